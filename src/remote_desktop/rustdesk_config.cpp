#include "remote_desktop/rustdesk_config.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/reparse_path.h"
#include "platform/unique_handle.h"
#include "remote_desktop/rustdesk_config_text.h"

namespace ostrevane {
namespace {

void AddRoamingFolder(std::vector<std::wstring>& paths, const std::wstring& roamingFolder) {
    if (!roamingFolder.empty()) {
        AddPathOnce(paths, JoinPath(JoinPath(roamingFolder, L"RustDesk"), L"config\\RustDesk2.toml"));
    }
}

std::wstring WindowsDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return L"C:\\Windows";
    }
    return std::wstring(buffer, length);
}

// "C:\" of "C:\Windows"; the C drive when the Windows directory has no drive letter.
std::wstring SystemRoot(const std::wstring& windowsDirectory) {
    if (windowsDirectory.size() >= 3 && windowsDirectory[1] == L':') {
        return windowsDirectory.substr(0, 3);
    }
    return L"C:\\";
}

void AddUserProfileFolders(std::vector<std::wstring>& paths, const std::wstring& usersFolder) {
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(FindFirstFileW(JoinPath(usersFolder, L"*").c_str(), &entry));
    if (!find) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L"..") {
            AddRoamingFolder(paths, JoinPath(JoinPath(usersFolder, name), L"AppData\\Roaming"));
        }
    } while (FindNextFileW(find.get(), &entry));
}

}  // namespace

std::vector<std::wstring> RustDeskConfigPaths() {
    std::vector<std::wstring> paths;
    AddRoamingFolder(paths, KnownFolderPath(FOLDERID_RoamingAppData));
    const std::wstring windowsDirectory = WindowsDirectory();
    AddUserProfileFolders(paths, JoinPath(SystemRoot(windowsDirectory), L"Users"));
    AddRoamingFolder(paths, JoinPath(windowsDirectory, L"ServiceProfiles\\LocalService\\AppData\\Roaming"));
    AddRoamingFolder(paths, JoinPath(windowsDirectory, L"ServiceProfiles\\LocalSystem\\AppData\\Roaming"));
    return paths;
}

void WriteRustDeskConfig(const std::wstring& path, const JsonValue& server) {
    const std::optional<std::string> text = RustDeskConfigText(server);
    if (!text) {
        return;
    }
    // Profile folders belong to other users: a junction or link anywhere on the way is skipped,
    // and the folders are held until the file is in place.
    const std::vector<UniqueFileHandle> folders = HoldFoldersWithoutLinks(path);
    if (folders.empty()) {
        return;
    }
    // A crash half-way must leave the old configuration, never a truncated one. The rename
    // replaces a link at the file's own name instead of writing through it.
    WriteFileReplacing(path, *text);
}

void ConfigureRustDesk(const JsonValue& server) noexcept {
    std::vector<std::wstring> paths;
    try {
        paths = RustDeskConfigPaths();
    } catch (...) {
        return;
    }
    for (const std::wstring& path : paths) {
        try {
            WriteRustDeskConfig(path, server);
        } catch (...) {
            // The next profile folder may still be writable.
        }
    }
}

}  // namespace ostrevane
