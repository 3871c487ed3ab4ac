#include "platform/dll_search.h"

#include <windows.h>

namespace ostrevane {

bool RestrictDllSearchToSystem() {
    // Delay-loaded imports are loaded through this search as well.
    const bool restricted = SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    SetDllDirectoryW(L"");  // drops the current folder from the legacy search too
    return restricted;
}

}  // namespace ostrevane
