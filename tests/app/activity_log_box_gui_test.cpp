#include "app/activity_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "app/log_file.h"
#include "app/log_text.h"
#include "platform/unique_handle.h"
#include "settings/control_text.h"
#include "support/test_files.h"

namespace ostrevane {
namespace {

struct WindowTraits {
    using Pointer = HWND;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { DestroyWindow(h); }
};
using UniqueWindow = UniqueHandle<WindowTraits>;

// A read-only multi-line box like the main window's activity log (without word wrap, so the line
// count is the count of text lines), and a log file of the test's own.
class ActivityLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        box_.reset(CreateWindowExW(0, L"EDIT", L"",
                                   WS_OVERLAPPEDWINDOW | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY, 0, 0,
                                   400, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(box_);
        UseLogFileForTesting(logPath_);
    }
    void TearDown() override { UseLogFileForTesting(L""); }

    std::pair<DWORD, DWORD> Selection() const {
        DWORD start = 0;
        DWORD end = 0;
        SendMessageW(box_.get(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return {start, end};
    }

    UniqueWindow box_;
    testing::TempDirectory temp_;
    std::wstring logPath_ = temp_ / L"run.log";
};

TEST_F(ActivityLogTest, TwoAppendsGiveTwoPrefixedLinesAndTheCaretAtTheEnd) {
    AppendActivityLog(box_.get(), L"客户端启动中");
    AppendActivityLog(box_.get(), L"正在请求连接授权...");
    const std::wstring text = ReadControlText(box_.get());
    EXPECT_TRUE(std::regex_match(text, std::wregex(LR"(\[\d\d:\d\d:\d\d\] 客户端启动中\r\n\[\d\d:\d\d:\d\d\] 正在请求连接授权\.\.\.)")))
        << text.size();
    EXPECT_EQ(Selection(), std::make_pair(static_cast<DWORD>(text.size()), static_cast<DWORD>(text.size())));
}

TEST_F(ActivityLogTest, EveryLineAlsoGoesToTheLogFile) {
    AppendActivityLog(box_.get(), L"one");
    AppendActivityLog(box_.get(), L"two");
    const std::string content = testing::ReadFileBytes(logPath_).value_or("");
    EXPECT_TRUE(std::regex_match(content, std::regex("\xEF\xBB\xBF" R"(\[\d\d:\d\d:\d\d\] one\r\n\[\d\d:\d\d:\d\d\] two\r\n)")))
        << content;
}

TEST_F(ActivityLogTest, ALongLogKeepsItsNewest2000LinesWithTheNewestAtTheEnd) {
    std::wstring history;
    for (std::size_t i = 1; i < kActivityLogTrimAbove; ++i) {
        history += (i > 1 ? L"\r\n" : L"") + std::wstring(L"[00:00:00] old ") + std::to_wstring(i);
    }
    ASSERT_TRUE(SetWindowTextW(box_.get(), history.c_str()));
    AppendActivityLog(box_.get(), L"at the limit");
    EXPECT_EQ(SendMessageW(box_.get(), EM_GETLINECOUNT, 0, 0), static_cast<LRESULT>(kActivityLogTrimAbove));

    AppendActivityLog(box_.get(), L"newest");
    const std::wstring text = ReadControlText(box_.get());
    EXPECT_EQ(SendMessageW(box_.get(), EM_GETLINECOUNT, 0, 0), static_cast<LRESULT>(kActivityLogKeepLines));
    EXPECT_EQ(text.substr(0, 20), L"[00:00:00] old 502\r\n") << "the oldest lines went first";
    EXPECT_TRUE(std::regex_search(text, std::wregex(LR"(\] at the limit\r\n\[\d\d:\d\d:\d\d\] newest$)")));
    EXPECT_EQ(Selection().second, static_cast<DWORD>(text.size()));
}

}  // namespace
}  // namespace ostrevane
