// The texts of the log: month folder and file names, the time prefix of a line, the whole line,
// and where the log file of a run lies. Pure: the caller reads the clock and the directories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrevane {

// One local clock reading, as the log uses it.
struct LogTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "%04d%02d": year and month.
std::wstring LogMonthFolderName(const LogTime& time);

// "%04d%02d%02d_%02d%02d%02d.log".
std::wstring LogFileName(const LogTime& time);

// "[%02d:%02d:%02d] ", closing space included.
std::wstring LogLinePrefix(const LogTime& time);

// Prefix, text as given (inner line breaks stay, unprefixed), CR LF.
std::wstring LogLine(const LogTime& time, const std::wstring& text);

// The activity log box keeps at least this many of its newest lines. It is trimmed only once it
// holds more than kActivityLogTrimAbove lines, so most appends leave the older text where it is.
inline constexpr std::size_t kActivityLogKeepLines = 2000;
inline constexpr std::size_t kActivityLogTrimAbove = 2500;

// The box's text after appending one entry (prefix and message): the entry follows the current
// text after one CR LF (none when the box is empty), and beyond kActivityLogTrimAbove lines the
// oldest lines are dropped down to kActivityLogKeepLines. Lines are separated by CR LF.
std::wstring AppendActivityLogEntry(const std::wstring& current, const std::wstring& entry);

// The current directory when GetCurrentDirectoryW (260-character buffer) reported a length from
// 1 to 259, otherwise the executable's directory.
std::wstring ChooseLogBase(std::uint32_t currentDirectoryLength, const std::wstring& currentDirectory,
                           const std::wstring& moduleDirectory);

// base\Log\<month folder>: the directory the run's log file lies in.
std::wstring LogDirectory(const std::wstring& base, const LogTime& time);

// The run's log file: LogDirectory joined with LogFileName, both from the same reading.
std::wstring LogFilePathFor(const std::wstring& base, const LogTime& time);

}  // namespace ostrevane
