#include "app/log_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "settings/text_utils.h"
#include "support/test_files.h"

namespace ostrevane {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

std::wstring ProbeProgram() { return std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\app\\app_probe.exe"; }

int SecondOfDay(const LogTime& t) { return (t.hour * 60 + t.minute) * 60 + t.second; }

// Points the log at a file of the test's own and restores "no log" afterwards.
class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override { UseLogFileForTesting(path_); }
    void TearDown() override { UseLogFileForTesting(L""); }

    std::string Content() const { return testing::ReadFileBytes(path_).value_or("<missing>"); }

    testing::TempDirectory temp_;
    std::wstring path_ = temp_ / L"run.log";
};

TEST_F(LogFileTest, ANewFileStartsWithOneByteOrderMarkAndTheFirstLine) {
    const LogTime before = CurrentLogTime();
    WriteLogLine(L"客户端启动中");
    const LogTime after = CurrentLogTime();

    const std::string content = Content();
    ASSERT_EQ(content.substr(0, 3), kBom);
    std::smatch match;
    const std::string rest = content.substr(3);
    ASSERT_TRUE(std::regex_match(rest, match, std::regex(R"(\[(\d\d):(\d\d):(\d\d)\] (.*)\r\n)")))
        << rest;
    EXPECT_EQ(match[4].str(), WideToUtf8(L"客户端启动中"));
    const int written = (std::stoi(match[1]) * 60 + std::stoi(match[2])) * 60 + std::stoi(match[3]);
    if (SecondOfDay(after) >= SecondOfDay(before)) {  // not across midnight
        EXPECT_GE(written, SecondOfDay(before));
        EXPECT_LE(written, SecondOfDay(after));
    }
}

TEST_F(LogFileTest, AFileThatExistsGetsNoSecondByteOrderMark) {
    WriteLogLine(L"first run");
    UseLogFileForTesting(path_);  // a second run that chose the same file name
    WriteLogLine(L"second run");
    const std::string content = Content();
    EXPECT_TRUE(std::regex_match(content, std::regex(kBom + R"(\[\d\d:\d\d:\d\d\] first run\r\n)"
                                                            R"(\[\d\d:\d\d:\d\d\] second run\r\n)")))
        << content;
}

TEST_F(LogFileTest, AFileCreatedByOthersGetsNoByteOrderMark) {
    ASSERT_TRUE(testing::WriteFileBytes(path_, "earlier\r\n"));
    WriteLogLine(L"appended");
    EXPECT_TRUE(std::regex_match(Content(), std::regex(R"(earlier\r\n\[\d\d:\d\d:\d\d\] appended\r\n)")))
        << Content();
}

TEST_F(LogFileTest, ATwoLineMessageIsWrittenAsIsWithOnlyTheFirstLinePrefixed) {
    WriteLogLine(L"Error: first\r\nsecond");
    EXPECT_TRUE(std::regex_match(Content(), std::regex(kBom + R"(\[\d\d:\d\d:\d\d\] Error: first\r\nsecond\r\n)")))
        << Content();
}

TEST_F(LogFileTest, NothingIsWrittenWithoutAPath) {
    UseLogFileForTesting(L"");
    WriteLogLine(L"lost");
    EXPECT_FALSE(testing::ReadFileBytes(path_).has_value());
}

TEST_F(LogFileTest, AnUnopenableFileLosesTheLineSilently) {
    const std::wstring unreachable = temp_ / L"no such folder\\run.log";
    UseLogFileForTesting(unreachable);
    EXPECT_NO_THROW(WriteLogLine(L"lost"));
    EXPECT_FALSE(testing::ReadFileBytes(unreachable).has_value());
}

TEST_F(LogFileTest, TheFileCanBeReadWhileTheProgramRuns) {
    WriteLogLine(L"one");
    // A reader holding the file open (sharing writes, as a viewer does) does not block the next line.
    HANDLE reader = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    WriteLogLine(L"two");
    CloseHandle(reader);
    EXPECT_NE(Content().find("] two\r\n"), std::string::npos);
}

TEST_F(LogFileTest, LinesFromSeveralThreadsNeverInterleave) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 150;
    const std::wstring padding(120, L'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &padding] {
            for (int i = 0; i < kLinesEach; ++i) {
                WriteLogLine(L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i) + L" " + padding);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::string content = Content();
    ASSERT_EQ(content.substr(0, 3), kBom);
    EXPECT_EQ(content.find(kBom, 3), std::string::npos) << "only one byte order mark";
    content.erase(0, 3);
    const std::regex line(R"(\[\d\d:\d\d:\d\d\] thread (\d) line (\d+) x{120})");
    std::vector<int> next(kThreads, 0);
    int count = 0;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t end = content.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "unterminated last line";
        std::smatch match;
        const std::string text = content.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(text, match, line)) << "damaged line: " << text;
        const int thread = std::stoi(match[1]);
        EXPECT_EQ(std::stoi(match[2]), next[thread]) << "lines of one thread keep their order";
        ++next[thread];
        ++count;
        start = end + 2;
    }
    EXPECT_EQ(count, kThreads * kLinesEach);
}

// A log run in a fresh process that has moved to workingDirectory: InitializeLogFile,
// WriteLogLine(message), LogFilePath; with otherDirectory a second InitializeLogFile there.
std::wstring RunLogProbe(const std::wstring& program, const std::wstring& workingDirectory,
                         const std::wstring& message, const std::wstring& resultFile,
                         const std::wstring& otherDirectory = L"") {
    std::vector<std::wstring> arguments{L"log", resultFile, message, workingDirectory};
    if (!otherDirectory.empty()) {
        arguments.push_back(otherDirectory);
    }
    // Started in the test's own directory; the program moves on by itself.
    const auto exitCode = testing::RunProgram(program, arguments, L"");
    EXPECT_EQ(exitCode, std::optional<DWORD>(0));
    return Utf8ToWide(testing::ReadFileBytes(resultFile).value_or(""));
}

// "<base>\Log\YYYYMM\YYYYMMDD_hhmmss.log" with the month of the file name.
void ExpectUnderLogFolder(const std::wstring& path, const std::wstring& base) {
    const std::wstring head = base + L"\\Log\\";
    EXPECT_EQ(path.substr(0, head.size()), head) << WideToUtf8(path);
    const std::wstring rest = path.size() > head.size() ? path.substr(head.size()) : L"";
    std::wsmatch match;
    EXPECT_TRUE(std::regex_match(rest, match, std::wregex(LR"((\d{6})\\(\d{6})\d\d_\d{6}\.log)"))) << WideToUtf8(path);
    if (match.size() == 3) {
        EXPECT_EQ(match[1].str(), match[2].str()) << "one clock reading names folder and file";
    }
}

TEST(LogFileOfARun, LiesInTheMonthFolderUnderTheCurrentDirectory) {
    testing::TempDirectory temp;
    const std::wstring work = temp / L"work";
    const std::wstring elsewhere = temp / L"elsewhere";
    CreateDirectoryW(work.c_str(), nullptr);
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    const std::wstring path = RunLogProbe(ProbeProgram(), work, L"hello", temp / L"result.txt", elsewhere);
    ExpectUnderLogFolder(path, work);
    EXPECT_TRUE(std::regex_match(testing::ReadFileBytes(path).value_or(""),
                                 std::regex(kBom + R"(\[\d\d:\d\d:\d\d\] hello\r\n)")));
    EXPECT_EQ(GetFileAttributesW((elsewhere + L"\\Log").c_str()), INVALID_FILE_ATTRIBUTES)
        << "a second InitializeLogFile changes nothing";
}

TEST(LogFileOfARun, LiesUnderTheExecutablesDirectoryWhenTheCurrentDirectoryIsTooLong) {
    testing::TempDirectory temp;
    const std::wstring programDirectory = temp / L"program";
    CreateDirectoryW(programDirectory.c_str(), nullptr);
    const std::wstring program = programDirectory + L"\\app_probe.exe";
    ASSERT_TRUE(CopyFileW(ProbeProgram().c_str(), program.c_str(), FALSE));

    std::wstring longDirectory = temp.path();
    while (longDirectory.size() <= 259) {
        longDirectory += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW(longDirectory.c_str(), nullptr));
    }
    ASSERT_GT(longDirectory.size(), 259u);

    const std::wstring path = RunLogProbe(program, longDirectory, L"long", temp / L"result.txt");
    ExpectUnderLogFolder(path, programDirectory);
    EXPECT_NE(testing::ReadFileBytes(path).value_or("").find("] long\r\n"), std::string::npos);
    EXPECT_EQ(GetFileAttributesW((longDirectory + L"\\Log").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(LogFileOfARun, ASecondRunInTheSameSecondAppendsWithoutASecondMark) {
    // Two runs that start in the same second choose the same file. Waiting for two process starts
    // to land in one second depends on the machine's speed, so the second run's writer is this
    // process, pointed at the file the first run chose.
    testing::TempDirectory temp;
    const std::wstring first = RunLogProbe(ProbeProgram(), temp.path(), L"first", temp / L"result1.txt");
    ASSERT_FALSE(first.empty());
    UseLogFileForTesting(first);
    WriteLogLine(L"second");
    UseLogFileForTesting(L"");
    EXPECT_TRUE(std::regex_match(testing::ReadFileBytes(first).value_or(""),
                                 std::regex(kBom + R"(\[\d\d:\d\d:\d\d\] first\r\n\[\d\d:\d\d:\d\d\] second\r\n)")));
}

}  // namespace
}  // namespace ostrevane
