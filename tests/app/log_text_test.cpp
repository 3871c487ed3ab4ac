#include "app/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrevane {
namespace {

constexpr LogTime kMorning{2024, 3, 5, 7, 8, 9};
constexpr LogTime kNewYearsEve{2025, 12, 31, 23, 59, 58};

TEST(LogNames, PadMonthFolderAndFileNameWithZeros) {
    EXPECT_EQ(LogMonthFolderName(kMorning), L"202403");
    EXPECT_EQ(LogFileName(kMorning), L"20240305_070809.log");
    EXPECT_EQ(LogMonthFolderName(kNewYearsEve), L"202512");
    EXPECT_EQ(LogFileName(kNewYearsEve), L"20251231_235958.log");
}

TEST(LogLine, IsTheTimePrefixTheTextAndCrLf) {
    EXPECT_EQ(LogLinePrefix(kMorning), L"[07:08:09] ");
    EXPECT_EQ(LogLinePrefix(LogTime{2024, 1, 1, 0, 0, 0}), L"[00:00:00] ");
    EXPECT_EQ(LogLine(kNewYearsEve, L"客户端启动中"), L"[23:59:58] 客户端启动中\r\n");
    EXPECT_EQ(LogLine(kMorning, L""), L"[07:08:09] \r\n");
}

TEST(LogLine, LeavesInnerLineBreaksUnprefixed) {
    EXPECT_EQ(LogLine(kMorning, L"first\r\nsecond"), L"[07:08:09] first\r\nsecond\r\n");
}

TEST(ChooseLogBase, TakesTheCurrentDirectoryOnlyWhenItFitsIn259Characters) {
    EXPECT_EQ(ChooseLogBase(1, L"C", L"D:\\exe"), L"C");
    EXPECT_EQ(ChooseLogBase(259, L"C:\\here", L"D:\\exe"), L"C:\\here");
    EXPECT_EQ(ChooseLogBase(260, L"", L"D:\\exe"), L"D:\\exe");
    EXPECT_EQ(ChooseLogBase(317, L"", L"D:\\exe"), L"D:\\exe");
    EXPECT_EQ(ChooseLogBase(0, L"", L"D:\\exe"), L"D:\\exe");
}

TEST(LogFilePathFor, PutsTheFileInTheMonthFolderUnderLog) {
    EXPECT_EQ(LogDirectory(L"C:\\work", kMorning), L"C:\\work\\Log\\202403");
    EXPECT_EQ(LogFilePathFor(L"C:\\work", kMorning), L"C:\\work\\Log\\202403\\20240305_070809.log");
    EXPECT_EQ(LogFilePathFor(L"C:\\", kMorning), L"C:\\Log\\202403\\20240305_070809.log");
    EXPECT_EQ(LogFilePathFor(L"", kMorning), L"Log\\202403\\20240305_070809.log");
}

std::wstring NumberedLines(int first, int last) {
    std::wstring text;
    for (int i = first; i <= last; ++i) {
        if (!text.empty()) {
            text += L"\r\n";
        }
        text += L"line " + std::to_wstring(i);
    }
    return text;
}

std::size_t CountLines(const std::wstring& text) {
    std::size_t lines = 1;
    for (std::size_t at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at + 2)) {
        ++lines;
    }
    return lines;
}

TEST(AppendActivityLogEntry, SeparatesEntriesWithOneCrLfAndNoTrailingBreak) {
    EXPECT_EQ(AppendActivityLogEntry(L"", L"[07:08:09] one"), L"[07:08:09] one");
    EXPECT_EQ(AppendActivityLogEntry(L"[07:08:09] one", L"[07:08:10] two"), L"[07:08:09] one\r\n[07:08:10] two");
}

TEST(AppendActivityLogEntry, KeepsEverythingUpToTheTrimThreshold) {
    const std::wstring current = NumberedLines(1, static_cast<int>(kActivityLogTrimAbove) - 1);
    const std::wstring next = AppendActivityLogEntry(current, L"newest");
    EXPECT_EQ(next, current + L"\r\nnewest");
    EXPECT_EQ(CountLines(next), kActivityLogTrimAbove);
}

TEST(AppendActivityLogEntry, DropsTheOldestLinesBeyondTheThresholdKeepingTheNewest2000) {
    const int existing = static_cast<int>(kActivityLogTrimAbove);
    const std::wstring next = AppendActivityLogEntry(NumberedLines(1, existing), L"newest");
    EXPECT_EQ(CountLines(next), kActivityLogKeepLines);
    const int firstKept = existing + 1 - static_cast<int>(kActivityLogKeepLines) + 1;
    EXPECT_EQ(next, NumberedLines(firstKept, existing) + L"\r\nnewest");
}

TEST(AppendActivityLogEntry, CountsTheLinesOfAMultiLineEntry) {
    const std::wstring next = AppendActivityLogEntry(NumberedLines(1, 2499), L"a\r\nb\r\nc");
    EXPECT_EQ(CountLines(next), kActivityLogKeepLines);
    EXPECT_EQ(next.substr(next.size() - 7), L"a\r\nb\r\nc");
    EXPECT_EQ(next.substr(0, 9), L"line 503\r");
}

TEST(AppendActivityLogEntry, KeepsAtLeast2000LinesOverManyAppends) {
    std::wstring text;
    for (int i = 1; i <= 6000; ++i) {
        text = AppendActivityLogEntry(text, L"line " + std::to_wstring(i));
        const std::size_t lines = CountLines(text);
        ASSERT_LE(lines, kActivityLogTrimAbove);
        ASSERT_GE(lines, std::min<std::size_t>(static_cast<std::size_t>(i), kActivityLogKeepLines));
    }
    EXPECT_EQ(text.substr(text.size() - 9), L"line 6000");
}

}  // namespace
}  // namespace ostrevane
