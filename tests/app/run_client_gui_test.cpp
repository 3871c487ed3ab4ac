// The entry point's failure path: when the window class cannot be registered, start-up ends with
// exit code 1 without a window and without waiting in a message loop.
#include <gtest/gtest.h>

#include <regex>

#include "app/application.h"
#include "app/log_file.h"
#include "support/state_guards.h"
#include "support/test_files.h"
#include "support/window_driver.h"

namespace ostrevane::testing {
namespace {

TEST(RunClientTest, ANonCreatableWindowEndsWithExitCodeOne) {
    SettingsFileGuard settings;
    ProxyOverrideGuard proxy;  // no bypass record of an earlier run: its removal would add a line
    TempDirectory temp;
    const std::wstring log = temp / L"run.log";
    {
        WindowDriver first;  // registers the class in this process: a second registration fails
    }
    UseLogFileForTesting(log);  // the start-up keeps a log path that is already chosen
    EXPECT_EQ(RunClient(GetModuleHandleW(nullptr), SW_HIDE), 1);
    EXPECT_EQ(FindWindowW(kMainWindowClassName, nullptr), nullptr);
    UseLogFileForTesting(L"");

    const std::string content = ReadFileBytes(log).value_or("");
    EXPECT_TRUE(std::regex_match(content, std::regex("\xEF\xBB\xBF\\[\\d\\d:\\d\\d:\\d\\d\\] Ostrevane\\.Client starting\\. Log file: "
                                                     ".*run\\.log\r\n")))
        << "the start line was written, and nothing else: " << content;
}

}  // namespace
}  // namespace ostrevane::testing
