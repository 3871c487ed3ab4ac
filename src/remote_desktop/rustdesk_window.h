// Recognising RustDesk's window by its title: first the RustDesk ID, then the program's name.
// No Win32 here; the window enumeration that feeds it lives in the password paster.
#pragma once

#include <string>

namespace ostrevane {

enum class TitleMatch {
    None,
    Id,    // the title contains the ID searched for (exact characters)
    Name,  // the title contains "rustdesk" in any letter case
};

// The ID is tried first; an empty ID matches nothing.
TitleMatch MatchRustDeskTitle(const std::wstring& title, const std::wstring& id);

// The part of a path after its last backslash or slash.
std::wstring FileNameOf(const std::wstring& path);

// Whether two executable file names name the same program (letter case ignored). An empty
// name matches nothing.
bool SameExecutableName(const std::wstring& a, const std::wstring& b);

}  // namespace ostrevane
