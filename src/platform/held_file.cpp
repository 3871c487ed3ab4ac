#include "platform/held_file.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace ostrevane {
namespace {

bool IsReparsePoint(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return !GetFileInformationByHandle(file, &information) ||
           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool HoldsContent(HANDLE file, std::string_view content) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != content.size()) {
        return false;
    }
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    std::vector<char> buffer(64 * 1024);
    std::size_t compared = 0;
    while (compared < content.size()) {
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(std::min(buffer.size(), content.size() - compared));
        if (!ReadFile(file, buffer.data(), wanted, &read, nullptr) || read == 0) {
            return false;
        }
        if (content.compare(compared, read, std::string_view(buffer.data(), read)) != 0) {
            return false;
        }
        compared += read;
    }
    return true;
}

UniqueFileHandle OpenForReading(const std::wstring& path) {
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool Rewrite(const std::wstring& path, std::string_view content) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file && IsReparsePoint(file.get())) {
        // Writing would go wherever the link points; remove the link itself instead.
        file.reset();
        if (!DeleteFileW(path.c_str()) && !RemoveDirectoryW(path.c_str())) {
            return false;
        }
        file.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    if (!file) {
        return false;
    }
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
        return false;
    }
    std::size_t done = 0;
    while (done < content.size()) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1 << 20));
        if (!WriteFile(file.get(), content.data() + done, piece, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return SetEndOfFile(file.get()) && FlushFileBuffers(file.get());
}

}  // namespace

UniqueFileHandle HoldFileWithContent(const std::wstring& path, std::string_view content) {
    // Another program may swap the file between the write and the read handle: compare again
    // on the handle that is kept, a bounded number of times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        UniqueFileHandle held = OpenForReading(path);
        if (held && !IsReparsePoint(held.get()) && HoldsContent(held.get(), content)) {
            return held;
        }
        held.reset();
        if (!Rewrite(path, content)) {
            return {};
        }
    }
    return {};
}

}  // namespace ostrevane
