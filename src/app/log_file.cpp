#include "app/log_file.h"

#include <windows.h>

#include <mutex>

#include "platform/paths.h"
#include "platform/unique_handle.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

// The log lock guards the path and every append to the file.
struct LogState {
    std::mutex lock;
    std::wstring path;  // empty until chosen
};

LogState& State() {
    static LogState state;
    return state;
}

std::wstring CurrentDirectoryOrModuleDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
    const std::wstring current = (length > 0 && length < MAX_PATH) ? std::wstring(buffer, length) : std::wstring();
    return ChooseLogBase(length, current, ModuleDirectory());
}

}  // namespace

LogTime CurrentLogTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

void InitializeLogFile() {
    LogState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.path.empty()) {
        return;
    }
    // One reading names both the month folder and the file.
    const LogTime time = CurrentLogTime();
    const std::wstring base = CurrentDirectoryOrModuleDirectory();
    CreateDirectoryTree(LogDirectory(base, time));
    state.path = LogFilePathFor(base, time);
}

void WriteLogLine(const std::wstring& text) {
    LogState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.path.empty()) {
        return;
    }
    const std::string line = WideToUtf8(LogLine(CurrentLogTime(), text));
    // Opened and closed for every line so the file can be read or copied while the program runs.
    UniqueFileHandle file(CreateFileW(state.path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    DWORD written = 0;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        static constexpr char kByteOrderMark[] = {'\xEF', '\xBB', '\xBF'};
        WriteFile(file.get(), kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr);
    }
    if (!line.empty()) {
        WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

std::wstring LogFilePath() {
    LogState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.path;
}

void UseLogFileForTesting(const std::wstring& path) {
    LogState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.path = path;
}

}  // namespace ostrevane
