#include "platform/runtime_directories.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/path_text.h"
#include "platform/paths.h"

namespace ostrevane {

std::wstring RuntimeDirectoryUnder(const std::wstring& base) { return JoinPath(base, kRuntimeFolder); }

std::wstring RuntimeCacheDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    const std::wstring base = length != 0 ? std::wstring(buffer) : KnownFolderPath(FOLDERID_LocalAppData);
    return RuntimeDirectoryUnder(base);
}

std::wstring SharedRuntimeDirectory() {
    std::wstring base = KnownFolderPath(FOLDERID_ProgramData);
    if (base.empty()) {
        base = ModuleDirectory();
    }
    return RuntimeDirectoryUnder(base);
}

}  // namespace ostrevane
