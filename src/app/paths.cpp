#include "app/paths.h"

#include <shlobj.h>

namespace ostrevane {

std::wstring JoinPath(const std::wstring& base, const std::wstring& name) {
    if (base.empty()) {
        return name;
    }
    if (base.back() == L'\\' || base.back() == L'/') {
        return base + name;
    }
    return base + L'\\' + name;
}

std::wstring DirectoryPart(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return {};
    }
    return path.substr(0, separator);
}

void CreateDirectoryTree(const std::wstring& directory) {
    if (!directory.empty()) {
        SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
    }
}

std::wstring KnownFolderPath(const GUID& folderId) {
    PWSTR raw = nullptr;
    const HRESULT result = SHGetKnownFolderPath(folderId, 0, nullptr, &raw);
    std::wstring path;
    if (SUCCEEDED(result) && raw != nullptr) {
        path = raw;
    }
    CoTaskMemFree(raw);
    return path;
}

std::wstring ModuleDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return DirectoryPart(std::wstring(buffer, length));
}

std::uint64_t RegularFileSize(const std::wstring& path) {
    if (path.empty()) {
        return 0;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return 0;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace ostrevane
