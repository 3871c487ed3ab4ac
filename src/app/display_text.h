// Shortening of values for the fixed-width places of the painted interface (sidebar cards, the
// connection detail and the status line): one line only, cut with "..." when too long.
#pragma once

#include <cstddef>
#include <string>

namespace ostrevane {

// The first line of the trimmed text (cut before its first CR or LF); when that is longer than
// `maximum` characters, its first maximum - 3 characters followed by "...".
std::wstring ShortenForDisplay(const std::wstring& text, std::size_t maximum);

// The line of a command's message that the one-line status line shows: its last non-blank line,
// trimmed. Operations end their message with the outcome (the tunnel's start or the refusal
// after a connect, the stop after a disconnect), while earlier lines tell what led there.
std::wstring StatusLineOf(const std::wstring& message);

}  // namespace ostrevane
