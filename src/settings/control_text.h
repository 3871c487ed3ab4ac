// Reading the whole text of an edit control or combo box.
#pragma once

#include <windows.h>

#include <string>

namespace ostrevane {

std::wstring ReadControlText(HWND control);

}  // namespace ostrevane
