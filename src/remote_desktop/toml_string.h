// One text value as a TOML string that every TOML reader gives back unchanged: RustDesk falls
// back to its defaults when its configuration file does not parse.
#pragma once

#include <string>

namespace ostrevane {

// The value with its delimiters: a literal string ('...') when the value holds no apostrophe
// and no control character other than tab, so plain server names keep their familiar form;
// otherwise a basic string ("...") with TOML's escapes.
std::wstring EscapeTomlText(const std::wstring& text);

}  // namespace ostrevane
