#include "app/log_text.h"

#include <cwchar>

#include "platform/path_text.h"

namespace ostrevane {
namespace {

// The buffer holds any int in every field; swprintf truncates rather than overruns.
template <typename... Args>
std::wstring Format(const wchar_t* format, Args... args) {
    wchar_t buffer[96] = {};
    const int length = std::swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), format, args...);
    return length > 0 ? std::wstring(buffer, static_cast<std::size_t>(length)) : std::wstring();
}

}  // namespace

std::wstring LogMonthFolderName(const LogTime& time) { return Format(L"%04d%02d", time.year, time.month); }

std::wstring LogFileName(const LogTime& time) {
    return Format(L"%04d%02d%02d_%02d%02d%02d.log", time.year, time.month, time.day, time.hour, time.minute,
                  time.second);
}

std::wstring LogLinePrefix(const LogTime& time) {
    return Format(L"[%02d:%02d:%02d] ", time.hour, time.minute, time.second);
}

std::wstring LogLine(const LogTime& time, const std::wstring& text) {
    return LogLinePrefix(time) + text + L"\r\n";
}

std::wstring AppendActivityLogEntry(const std::wstring& current, const std::wstring& entry) {
    std::wstring text = current;
    if (!text.empty()) {
        text += L"\r\n";
    }
    text += entry;

    std::size_t breaks = 0;
    for (std::size_t at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at + 2)) {
        ++breaks;
    }
    const std::size_t lines = breaks + 1;
    if (lines <= kActivityLogTrimAbove) {
        return text;
    }
    // Cut after the line break that ends the last line to drop.
    std::size_t drop = lines - kActivityLogKeepLines;
    std::size_t cut = 0;
    while (drop > 0) {
        cut = text.find(L"\r\n", cut) + 2;
        --drop;
    }
    return text.substr(cut);
}

std::wstring ChooseLogBase(std::uint32_t currentDirectoryLength, const std::wstring& currentDirectory,
                           const std::wstring& moduleDirectory) {
    // A length of 260 or more is the size the buffer would have needed: the text is not there.
    if (currentDirectoryLength >= 1 && currentDirectoryLength <= 259) {
        return currentDirectory;
    }
    return moduleDirectory;
}

std::wstring LogDirectory(const std::wstring& base, const LogTime& time) {
    return JoinPath(JoinPath(base, L"Log"), LogMonthFolderName(time));
}

std::wstring LogFilePathFor(const std::wstring& base, const LogTime& time) {
    return JoinPath(LogDirectory(base, time), LogFileName(time));
}

}  // namespace ostrevane
