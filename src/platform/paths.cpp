#include "platform/paths.h"

#include <shlobj.h>

namespace ostrevane {

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

namespace {

std::optional<WIN32_FILE_ATTRIBUTE_DATA> ReadAttributes(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return data;
}

std::uint64_t SizeOf(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

std::optional<std::uint64_t> AttributeSize(const std::wstring& path) {
    const auto data = ReadAttributes(path);
    if (!data) {
        return std::nullopt;
    }
    return SizeOf(*data);
}

std::uint64_t RegularFileSize(const std::wstring& path) {
    const auto data = ReadAttributes(path);
    if (!data || (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return 0;
    }
    return SizeOf(*data);
}

}  // namespace ostrevane
