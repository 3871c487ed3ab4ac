// Shortening of values for the fixed-width places of the painted interface (sidebar cards and the
// connection detail): one line only, cut with "..." when too long.
#pragma once

#include <cstddef>
#include <string>

namespace ostrevane {

// The first line of the trimmed text (cut before its first CR or LF); when that is longer than
// `maximum` characters, its first maximum - 3 characters followed by "...".
std::wstring ShortenForDisplay(const std::wstring& text, std::size_t maximum);

}  // namespace ostrevane
