#include "settings/unreadable_copies.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/path_text.h"

namespace ostrevane {
namespace {

constexpr int kMaximumCounter = 99;

std::vector<std::wstring> CopiesOf(const std::wstring& path) {
    std::vector<std::wstring> names;
    const std::wstring folder = DirectoryPart(path);
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW((path + kUnreadableSettingsSuffix + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.push_back(JoinPath(folder, data.cFileName));
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

}  // namespace

std::wstring UnreadableCopyName(const std::wstring& path, int year, int month, int day, int hour, int minute,
                                int second, int millisecond, int counter) {
    wchar_t stamp[40] = {};
    std::swprintf(stamp, std::size(stamp), L"-%04d%02d%02d-%02d%02d%02d-%03d-%02d", year, month, day, hour, minute, second,
                  millisecond, counter);
    return path + kUnreadableSettingsSuffix + stamp;
}

std::vector<std::wstring> CopiesBeyondLimit(std::vector<std::wstring> names, std::size_t kept) {
    if (names.size() <= kept) {
        return {};
    }
    std::sort(names.begin(), names.end());
    names.resize(names.size() - kept);
    return names;
}

void KeepUnreadableFile(const std::wstring& path) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    for (int counter = 0; counter <= kMaximumCounter; ++counter) {
        const std::wstring aside = UnreadableCopyName(path, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                                      now.wSecond, now.wMilliseconds, counter);
        // Never over an existing copy: a name already taken moves on to the next counter.
        if (CopyFileW(path.c_str(), aside.c_str(), TRUE)) {
            break;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    for (const std::wstring& old : CopiesBeyondLimit(CopiesOf(path), kKeptUnreadableCopies)) {
        DeleteFileW(old.c_str());
    }
}

}  // namespace ostrevane
