// Parameter text for starting a program: every argument quoted so that the program's
// CommandLineToArgvW-style parsing gives back exactly that argument, whatever it holds.
#pragma once

#include <string>
#include <vector>

namespace ostrevane {

// The argument between double quotes. Backslashes before a quotation mark (and before the
// closing quote) are doubled and the quotation mark gets a backslash; other text stays as it
// is, so an ordinary argument is only wrapped in quotes. A NUL ends the argument, because the
// parameter text is handed over as a terminated string.
std::wstring QuoteArgument(const std::wstring& argument);

// The quoted arguments joined by one blank; empty for no arguments.
std::wstring BuildParameterText(const std::vector<std::wstring>& arguments);

}  // namespace ostrevane
