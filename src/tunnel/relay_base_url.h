// The base URL from which both relay endpoints are derived: trimmed, the default when empty,
// "http://" added when no scheme is written, trailing slashes removed.
#pragma once

#include <string>

namespace ostrevane {

std::wstring RelayBaseUrl(const std::wstring& serverUrl);

}  // namespace ostrevane
