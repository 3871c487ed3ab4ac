#include "platform/reparse_path.h"

#include <windows.h>

#include "platform/path_text.h"

namespace ostrevane {
namespace {

// Where the first folder below the root starts: after "C:\" or after "\\server\share\".
std::size_t RootLength(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) {
        return 3;
    }
    if (path.rfind(L"\\\\", 0) == 0) {
        const std::size_t server = path.find_first_of(L"\\/", 2);
        const std::size_t share = server == std::wstring::npos ? server : path.find_first_of(L"\\/", server + 1);
        return share == std::wstring::npos ? path.size() : share + 1;
    }
    return 0;
}

bool IsReparse(unsigned long attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

std::vector<std::wstring> FoldersOnTheWay(const std::wstring& filePath) {
    std::vector<std::wstring> folders;
    const std::wstring directory = DirectoryPart(filePath);
    const std::size_t root = RootLength(filePath);
    for (std::size_t at = root; at < directory.size();) {
        const std::size_t end = directory.find_first_of(L"\\/", at);
        const std::size_t stop = end == std::wstring::npos ? directory.size() : end;
        if (stop > at) {
            folders.push_back(directory.substr(0, stop));
        }
        at = stop + 1;
    }
    return folders;
}

bool PassesThroughReparsePoint(const std::vector<std::wstring>& folders,
                               const std::function<unsigned long(const std::wstring&)>& attributesOf) {
    for (const std::wstring& folder : folders) {
        if (IsReparse(attributesOf(folder))) {
            return true;
        }
    }
    return false;
}

std::vector<UniqueFileHandle> HoldFoldersWithoutLinks(const std::wstring& filePath) {
    std::vector<UniqueFileHandle> held;
    const std::vector<std::wstring> folders = FoldersOnTheWay(filePath);
    for (const std::wstring& folder : folders) {
        // Checked before creating below it: a link already in place is never followed.
        const DWORD before = GetFileAttributesW(folder.c_str());
        if (IsReparse(before)) {
            return {};
        }
        if (before == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(folder.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
        // Without delete sharing nobody can rename or remove it. Only an empty folder can become a
        // link, and every folder but the last holds the next one: the last shares no writing.
        const DWORD sharing = &folder == &folders.back() ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
        UniqueFileHandle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, sharing, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION information{};
        if (!handle || !GetFileInformationByHandle(handle.get(), &information) ||
            (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsReparse(information.dwFileAttributes)) {
            return {};
        }
        held.push_back(std::move(handle));
    }
    return held;
}

}  // namespace ostrevane
