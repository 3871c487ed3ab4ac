// Engineer ids: "ENG-" and eight decimal digits, drawn afresh on every call.
#pragma once

#include <string>

namespace ostrevane {

std::wstring NewEngineerId();

}  // namespace ostrevane
