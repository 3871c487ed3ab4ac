#include "remote_desktop/rustdesk_locations.h"

#include "platform/path_text.h"
#include "settings/text_utils.h"

namespace ostrevane {

std::vector<std::wstring> RustDeskCandidates(const RustDeskSearchFolders& folders) {
    return {
        L"D:\\Program Files\\RustDesk\\rustdesk.exe",
        L"D:\\Program Files\\RustDesk\\RustDesk.exe",
        JoinPath(folders.programFiles, L"RustDesk\\rustdesk.exe"),
        JoinPath(folders.programFiles, L"RustDesk\\RustDesk.exe"),
        JoinPath(folders.programFilesX86, L"RustDesk\\rustdesk.exe"),
        JoinPath(folders.programFilesX86, L"RustDesk\\RustDesk.exe"),
        JoinPath(folders.localAppData, L"Programs\\RustDesk\\rustdesk.exe"),
        JoinPath(folders.localAppData, L"Programs\\RustDesk\\RustDesk.exe"),
        JoinPath(folders.moduleDirectory, L"Runtime\\rustdesk.exe"),
    };
}

bool PathContainsDirectory(const std::wstring& path, const std::wstring& directory) {
    return LowerCaseText(path).find(LowerCaseText(directory)) != std::wstring::npos;
}

std::wstring ResolveDownloadUrl(const std::wstring& baseUrl, const std::wstring& address) {
    std::wstring url = TrimWhitespace(address);
    if (url.empty()) {
        return {};
    }
    if (url.size() >= 3 && url.find(L"://") != std::wstring::npos) {
        return url;
    }
    if (url.front() != L'/') {
        url.insert(0, L"/");
    }
    return NormalizeServerUrl(baseUrl) + url;
}

}  // namespace ostrevane
