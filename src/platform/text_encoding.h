// The only places where text changes encoding: UTF-8 <-> UTF-16 through the platform converter.
// Malformed input becomes U+FFFD, never an error.
#pragma once

#include <string>

namespace ostrevane {

std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

}  // namespace ostrevane
