// The client executable as a whole, started as a user starts it: a first start with no settings
// file, the log file of the run, and closing the window while a worker waits on a slow service.
#include <gtest/gtest.h>

#include <regex>

#include "app/control_table.h"
#include "control/proxy_bypass.h"
#include "platform/paths.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "support/client_process.h"
#include "support/divert_harness.h"
#include "support/engine_fixture.h"
#include "support/reference_service.h"
#include "support/service_client.h"
#include "support/state_guards.h"
#include "support/test_files.h"

namespace ostrevane::testing {
namespace {

using namespace control_id;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The child's working directory, where its log folder appears. Outside any TempDirectory: Wine
// keeps a program's start directory in use after the program has ended.
std::wstring RunDirectory() {
    const std::wstring directory = std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\test-runs\\client";
    CreateDirectoryTree(directory);
    RemoveDirectoryTree(directory + L"\\Log");
    return directory;
}

// The log files below <directory>\Log\<month>.
std::vector<std::wstring> LogFilesBelow(const std::wstring& directory) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW month{};
    UniqueFindHandle months(FindFirstFileW((directory + L"\\Log\\*").c_str(), &month));
    if (!months) {
        return files;
    }
    do {
        const std::wstring monthName = month.cFileName;
        if (monthName == L"." || monthName == L"..") {
            continue;
        }
        WIN32_FIND_DATAW file{};
        const std::wstring monthDirectory = directory + L"\\Log\\" + monthName;
        UniqueFindHandle logs(FindFirstFileW((monthDirectory + L"\\*.log").c_str(), &file));
        if (logs) {
            do {
                files.push_back(monthDirectory + L"\\" + file.cFileName);
            } while (FindNextFileW(logs.get(), &file));
        }
    } while (FindNextFileW(months.get(), &month));
    return files;
}

std::size_t LiveRelays() {
    const JsonValue state = ServiceState();
    const JsonValue* live = JsonPath(state, {L"relay", L"live"});
    const auto* list = live != nullptr ? std::get_if<JsonArray>(live) : nullptr;
    return list != nullptr ? list->size() : 0;
}

// When the service saw the latest relay connection end, by its clock; -1 when none has ended.
double LastRelayEnd() {
    const JsonValue state = ServiceState();
    const JsonValue* ended = JsonPath(state, {L"relay", L"ended"});
    const auto* list = ended != nullptr ? std::get_if<JsonArray>(ended) : nullptr;
    return list != nullptr && !list->empty() ? JsonNumber(list->back(), {L"closedAt"}) : -1;
}

TEST(ClientProcessTest, AFirstStartShowsTheDefaultsAndLogsTheStartLineFirst) {
    SettingsFileGuard settings;
    ProxyOverrideGuard proxy;
    const std::wstring directory = RunDirectory();
    ClientProcess client(ClientExecutable(), directory);
    ASSERT_TRUE(client.started());
    ASSERT_NE(client.WaitForWindow(seconds(30)), nullptr);
    // The window can be seen before its creation has finished; the starting line comes last.
    ASSERT_TRUE(WaitUntil([&] { return !client.Text(kActivityLog).empty(); }, seconds(10)));

    EXPECT_TRUE(std::regex_match(client.Text(kActivityLog), std::wregex(LR"(\[\d\d:\d\d:\d\d\] 客户端启动中)")))
        << "the on-screen log starts with the starting line, not the start line";
    EXPECT_EQ(client.Text(kServerUrl), kDefaultServerUrl);
    EXPECT_EQ(client.Text(kTargetNetwork), L"192.168.1.0/24");
    EXPECT_EQ(client.Text(kStatusLine), L"就绪。");
    wchar_t title[64] = {};
    GetWindowTextW(client.window(), title, 64);
    EXPECT_EQ(std::wstring(title), L"Ostrevane.Client");
    RECT outer{};
    GetWindowRect(client.window(), &outer);
    EXPECT_EQ(outer.right - outer.left, 1220);
    EXPECT_EQ(outer.bottom - outer.top, 860) << "grown to the minimum height";

    client.Close();
    EXPECT_EQ(client.WaitForExit(seconds(20)), std::optional<DWORD>(0));

    const std::vector<std::wstring> logs = LogFilesBelow(directory);
    ASSERT_EQ(logs.size(), 1u);
    const std::string content = ReadFileBytes(logs[0]).value_or("");
    std::smatch first;
    ASSERT_TRUE(std::regex_search(content, first,
                                  std::regex("^\xEF\xBB\xBF\\[\\d\\d:\\d\\d:\\d\\d\\] Ostrevane\\.Client starting\\. Log file: "
                                             "([^\r\n]*)\r\n\\[\\d\\d:\\d\\d:\\d\\d\\] 客户端启动中\r\n")))
        << content;
    EXPECT_TRUE(EqualsIgnoringCase(Utf8ToWide(first[1].str()), logs[0])) << first[1].str();
    EXPECT_FALSE(ReadFileBytes(SettingsFilePath())) << "starting and closing writes no settings file";
}

TEST(ClientProcessTest, AStartAfterACrashTakesOutTheBypassEntriesTheEarlierRunAdded) {
    SettingsFileGuard settings;
    ProxyOverrideGuard proxy(L"*.local;192.168.1.*;10.20.*");
    // As an earlier run leaves it when it dies during a session: 10.20.* was its own.
    ASSERT_TRUE(WriteRegistryText(HKEY_CURRENT_USER, kClientRegistryKey, kProxyBypassRecordValue, L"10.20.*"));
    ClientProcess client(ClientExecutable(), RunDirectory());
    ASSERT_TRUE(client.started());
    ASSERT_NE(client.WaitForWindow(seconds(30)), nullptr);
    EXPECT_EQ(ReadProxyOverride(), L"*.local;192.168.1.*") << "the user's own 192.168.1.* stays";
    EXPECT_TRUE(ReadProxyBypassRecord().empty());
    client.Close();
    EXPECT_EQ(client.WaitForExit(seconds(20)), std::optional<DWORD>(0));
}

TEST(ClientProcessTest, ASecondStartBringsTheFirstWindowToTheFrontAndEndsWithoutTouchingTheSettings) {
    SettingsFileGuard settings;
    ProxyOverrideGuard proxy;
    const std::wstring directory = RunDirectory();
    ClientProcess first(ClientExecutable(), directory);
    ASSERT_TRUE(first.started());
    ASSERT_NE(first.WaitForWindow(seconds(30)), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !first.Text(kActivityLog).empty(); }, seconds(10)));
    ShowWindow(first.window(), SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(first.window()) != FALSE; }, seconds(5)));
    const std::optional<std::string> before = ReadFileBytes(SettingsFilePath());
    const std::size_t logsBefore = LogFilesBelow(directory).size();

    ClientProcess second(ClientExecutable(), directory);
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.WaitForExit(seconds(20)), std::optional<DWORD>(0));
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(first.window()) == FALSE && GetForegroundWindow() == first.window(); },
                          seconds(10)))
        << "the first window is restored and in front";
    EXPECT_EQ(ReadFileBytes(SettingsFilePath()), before) << "the second start left the settings file alone";
    EXPECT_EQ(LogFilesBelow(directory).size(), logsBefore) << "and started no log of its own";
    EXPECT_TRUE(first.running());

    first.Close();
    EXPECT_EQ(first.WaitForExit(seconds(20)), std::optional<DWORD>(0));
    // The lock ends with the first client: a start after it runs as the only one.
    ClientProcess third(ClientExecutable(), directory);
    ASSERT_NE(third.WaitForWindow(seconds(30)), nullptr);
    third.Close();
    EXPECT_EQ(third.WaitForExit(seconds(20)), std::optional<DWORD>(0));
}

TEST(ClientProcessTest, ClosingDuringASlowWorkerStopsTheTunnelFirstAndCancelsTheWorkersRequest) {
    ResetService();
    SettingsFileGuard settings;
    ProxyOverrideGuard proxy(L"*.local");
    DivertHarness harness;  // the demo client's stand-in driver finds it through the environment
    ClientState start;
    start.serverUrl = ServiceUrl();
    start.deviceSecret = kDemoAccessKey;
    start.engineerId = L"ENG-30000001";
    SaveClientState(start);

    ClientProcess client(DemoClientExecutable(), RunDirectory());
    ASSERT_TRUE(client.started());
    ASSERT_NE(client.WaitForWindow(seconds(30)), nullptr);
    client.PostCommand(kConnect);
    ASSERT_TRUE(WaitUntil([] { return LiveRelays() == 1; }, seconds(30))) << "the tunnel came up";
    ASSERT_TRUE(WaitUntil([&] { return client.Text(kStatusLine).find(L"工程师端软件隧道已启动") != std::wstring::npos; },
                          seconds(10)));

    PostFault(R"({"name":"delay-http","ms":4000,"count":1,"pathPrefix":"/api/devices/resolve"})");
    client.PostCommand(kGetNetworks);
    ASSERT_TRUE(WaitUntil([] { return CallsTo("/api/devices/resolve").size() == 1; }, seconds(10)));
    client.Close();

    ASSERT_TRUE(WaitUntil([] { return LiveRelays() == 0; }, seconds(30))) << "closing stops the tunnel";
    // The service answers the resolve call 4 s after it came in: by its own clock, the tunnel
    // ended before that, so the close did not wait for the worker (however slow this thread is).
    const double relayEnded = LastRelayEnd();
    ASSERT_GE(relayEnded, 0.0);
    EXPECT_LT(relayEnded, CallsTo("/api/devices/resolve").at(0).time + 4.0)
        << "closing stops the tunnel at once, while the worker still waits for the service";
    // The worker's request is cancelled: the process does not sit out the delayed answer.
    EXPECT_EQ(client.WaitForExit(seconds(30)), std::optional<DWORD>(0));
}

TEST(ClientProcessTest, ClosingWhileTheRelayHandshakeHangsEndsTheProcessPromptly) {
    ResetService();
    SettingsFileGuard settings;
    ProxyOverrideGuard proxy(L"*.local");
    DivertHarness harness;
    ClientState start;
    start.serverUrl = ServiceUrl();
    start.deviceSecret = kDemoAccessKey;
    start.engineerId = L"ENG-30000002";
    SaveClientState(start);
    // The relay accepts the connection and answers its upgrade only after a minute.
    PostFault(R"({"name":"delay-http","ms":60000,"count":1,"pathPrefix":"/api/relay/"})");

    ClientProcess client(DemoClientExecutable(), RunDirectory());
    ASSERT_TRUE(client.started());
    ASSERT_NE(client.WaitForWindow(seconds(30)), nullptr);
    client.PostCommand(kConnect);
    ASSERT_TRUE(WaitUntil([] { return !CallsTo("/api/relay/").empty(); }, seconds(30))) << "the upgrade was asked for";
    client.Close();
    EXPECT_EQ(client.WaitForExit(seconds(5)), std::optional<DWORD>(0)) << "the close waited for the handshake";
}

}  // namespace
}  // namespace ostrevane::testing
