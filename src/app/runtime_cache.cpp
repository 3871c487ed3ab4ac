#include "app/runtime_cache.h"

#include <windows.h>
#include <shlwapi.h>

#include "app/runtime_layout.h"
#include "platform/path_text.h"
#include "platform/paths.h"
#include "platform/runtime_directories.h"
#include "platform/unique_handle.h"

namespace ostrevane {

bool ExtractResourceFile(int resourceId, const std::wstring& path) {
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
    if (resource == nullptr) {
        return false;
    }
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(nullptr, resource);
    if (data == nullptr || size == 0) {
        return false;
    }
    CreateDirectoryTree(DirectoryPart(path));
    // Size alone decides: a file of the resource's size is current, whatever its content or date.
    if (AttributeSize(path) == std::uint64_t{size}) {
        return true;
    }
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.get(), data, size, &written, nullptr) && written == size;
}

bool CopyFileIfDifferent(const std::wstring& source, const std::wstring& destination) {
    if (source.empty() || destination.empty() || !PathFileExistsW(source.c_str())) {
        return false;
    }
    const auto sourceSize = AttributeSize(source);
    const auto destinationSize = AttributeSize(destination);
    if (sourceSize && destinationSize && *sourceSize == *destinationSize) {
        return true;
    }
    CreateDirectoryTree(DirectoryPart(destination));
    return CopyFileW(source.c_str(), destination.c_str(), FALSE) != FALSE;
}

void PrepareDriverRuntime() {
    const std::wstring cache = RuntimeCacheDirectory();
    ExtractResourceFile(kDivertLibraryResourceId, JoinPath(cache, kDivertLibraryFileName));
    ExtractResourceFile(kDivertDriverResourceId, JoinPath(cache, kDivertDriverFileName));
    // The tunnel loads "WinDivert.dll" by name; the library then finds the driver beside itself.
    SetDllDirectoryW(cache.c_str());

    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0) {
        return;
    }
    // Running from a development tree: its driver files replace the cached ones when they differ.
    // A truncated path still ends in a terminating null; take the text up to it.
    for (const FileCopy& copy : SourceTreeDriverCopies(std::wstring(buffer), cache)) {
        CopyFileIfDifferent(copy.source, copy.destination);
    }
}

}  // namespace ostrevane
