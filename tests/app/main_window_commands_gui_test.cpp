// The worker commands driven through the window as a user would, against the reference service:
// get networks, connect (busy rule, status and log lines, the tunnel up), disconnect.
#include <gtest/gtest.h>

#include <algorithm>

#include <winsock2.h>

#include "app/control_table.h"
#include "platform/text_encoding.h"
#include "platform/winsock.h"
#include "remote_desktop/clipboard.h"
#include "settings/settings_file.h"
#include "support/demo_scenario.h"
#include "support/reference_service.h"
#include "support/service_window_fixture.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane::testing {
namespace {

using namespace control_id;
using std::chrono::milliseconds;
using std::chrono::seconds;

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

class WindowCommandsTest : public ServiceWindowTest {
protected:
    bool Busy() { return window().record().busy.load(); }

    void ExpectBusyControls(bool disabled) {
        for (int id : kBusyControls) {
            EXPECT_EQ(window().Enabled(id), !disabled) << id;
        }
        for (int id : {kAccessKey, kProfileName, kTargetNetwork}) {
            EXPECT_TRUE(window().Enabled(id)) << "stays usable: " << id;
        }
    }
};

TEST_F(WindowCommandsTest, GetNetworksFillsTheTargetNetworkListWithAllAndTheSiteNetworks) {
    Open();
    window().Type(kAccessKey, kDemoAccessKey);
    const std::size_t before = window().LogLines().size();

    window().Click(kGetNetworks);
    EXPECT_EQ(window().Text(kStatusLine), L"正在获取现场端网段...");
    ASSERT_TRUE(window().WaitForIdle());

    EXPECT_EQ(window().ComboEntries(kTargetNetwork), (std::vector<std::wstring>{L"ALL", L"192.168.1.0/24", L"10.20.0.0/16"}));
    EXPECT_EQ(window().ComboSelection(kTargetNetwork), L"192.168.1.0/24") << "the first site network is chosen";
    EXPECT_EQ(window().Text(kStatusLine), L"已获取现场端 SITE-0001 的共享网段。");
    EXPECT_EQ(window().Text(kDeviceNumber), L"SITE-0001");
    EXPECT_EQ(window().Text(kProfileName), L"演示现场");
    EXPECT_EQ(window().NewLogLinesSince(before),
              (std::vector<std::wstring>{L"正在获取现场端网段...", L"已获取现场端 SITE-0001 的共享网段。"}));
    const auto requests = CallsTo("/api/devices/resolve");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "{\"deviceSecret\":\"OVK-DEMO-7F3A-2C91-5E08\"}") << "the typed key was used";
    ClientState saved;
    LoadClientState(saved);
    EXPECT_EQ(saved.deviceSecret, kDemoAccessKey) << "the command first persists what was typed";
}

TEST_F(WindowCommandsTest, ConnectDisablesTheCommandsWhileItRunsAndShowsTheTunnelStarted) {
    Open();
    window().Type(kAccessKey, kDemoAccessKey);
    PostFault(R"({"name":"delay-http","ms":1500,"count":1,"pathPrefix":"/api/connections/request"})");
    const std::size_t before = window().LogLines().size();

    window().Click(kConnect);
    EXPECT_TRUE(Busy());
    EXPECT_EQ(window().Text(kStatusLine), L"正在请求连接授权...");
    ExpectBusyControls(true);

    ASSERT_TRUE(window().WaitForIdle());
    ExpectBusyControls(false);
    const std::wstring message = window().Text(kStatusLine);
    const ClientState& state = window().record().state;
    ASSERT_FALSE(state.connectionId.empty());
    EXPECT_TRUE(StartsWith(message, L"工程师端软件隧道已启动：" + state.connectionId)) << "the outcome, not the earlier stop";
    EXPECT_EQ(message.find_first_of(L"\r\n"), std::wstring::npos);
    const auto lines = window().NewLogLinesSince(before);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"正在请求连接授权...");
    EXPECT_EQ(lines[1], L"软件隧道未运行。") << "the log keeps every line of the message";
    EXPECT_EQ(lines[2], L"连接授权成功：" + state.connectionId + L"，分配地址 " + state.assignedAddress + L"，路由 192.168.1.0/24");
    EXPECT_EQ(lines.back(), message);
    EXPECT_TRUE(window().record().engine->running());
    EXPECT_EQ(window().ComboEntries(kTargetNetwork), (std::vector<std::wstring>{L"ALL", L"192.168.1.0/24"}))
        << "the granted routes are the target networks on offer";
    EXPECT_EQ(window().ComboSelection(kTargetNetwork), L"192.168.1.0/24");
    const auto requests = CallsTo("/api/connections/request");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].body.find("\"targetNetwork\":\"192.168.1.0/24\""), std::string::npos)
        << "the network shown in the list was requested: " << requests[0].body;
    EXPECT_FALSE(window().record().retryTimerArmed);
}

TEST_F(WindowCommandsTest, ARefusedConnectShowsTheRefusal) {
    PostScenario(DemoScenario(R"([{"path":"/api/connections/request","code":"NO_SHARED_NETWORKS","message":"无共享网段"}])"));
    Open();
    window().Type(kAccessKey, kDemoAccessKey);
    window().Click(kConnect);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"Connection authorization failed: 无共享网段");
    EXPECT_EQ(window().LogLines().back(), L"Connection authorization failed: 无共享网段");
}

TEST_F(WindowCommandsTest, AStoredTargetOutsideTheListIsOfferedAndRequestedUnchanged) {
    Open([](ClientState& state) {
        state.routesText = L"192.168.1.0/24";
        state.targetNetwork = L"10.20.0.0/16";
    });
    EXPECT_EQ(window().ComboEntries(kTargetNetwork), (std::vector<std::wstring>{L"ALL", L"192.168.1.0/24", L"10.20.0.0/16"}));
    EXPECT_EQ(window().ComboSelection(kTargetNetwork), L"10.20.0.0/16");
    window().Type(kAccessKey, kDemoAccessKey);
    window().Click(kConnect);
    ASSERT_TRUE(window().WaitForIdle());
    const auto requests = CallsTo("/api/connections/request");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].body.find("\"targetNetwork\":\"10.20.0.0/16\""), std::string::npos) << requests[0].body;
}

TEST_F(WindowCommandsTest, WhatIsTypedWhileAWorkerRunsSurvivesItsCompletion) {
    Open();
    window().Type(kAccessKey, kDemoAccessKey);
    PostFault(R"({"name":"delay-http","ms":1500,"count":1,"pathPrefix":"/api/devices/resolve"})");
    window().Click(kGetNetworks);
    ASSERT_TRUE(Busy());
    window().Type(kAccessKey, L"OVK-TYPED-MEANWHILE");
    window().Type(kProfileName, L"新档案");

    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"已获取现场端 SITE-0001 的共享网段。");
    EXPECT_EQ(window().Text(kAccessKey), L"OVK-TYPED-MEANWHILE");
    EXPECT_EQ(window().Text(kProfileName), L"新档案") << "not the resolved device name";
    EXPECT_EQ(window().Text(kDeviceNumber), L"SITE-0001") << "what was not typed shows the worker's result";
    EXPECT_EQ(window().ComboSelection(kTargetNetwork), L"192.168.1.0/24");
}

TEST_F(WindowCommandsTest, ARefusedConnectionReadsWithWinHttpsOwnText) {
    // A loopback port bound without listening refuses every connection.
    WinsockSession winsock;
    ASSERT_EQ(winsock.Start(), 0);
    const UniqueSocket bound(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_TRUE(bound);
    const SOCKET closed = bound.get();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    int length = sizeof(address);
    ASSERT_EQ(getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port));
    Open([&](ClientState& state) { state.serverUrl = url; });
    window().Type(kAccessKey, kDemoAccessKey);
    window().Click(kGetNetworks);
    ASSERT_TRUE(window().WaitForIdle());
    const std::wstring status = window().Text(kStatusLine);
    EXPECT_TRUE(StartsWith(status, L"Error: WinHttpReceiveResponse: ")) << WideToUtf8(status);
    EXPECT_GT(status.size(), std::wstring(L"Error: WinHttpReceiveResponse: ").size()) << "a reason follows";
}

// Counts the paint messages that the test thread's pump takes for the main window.
HWND g_paintedWindow = nullptr;
int g_paints = 0;
LRESULT CALLBACK CountPaints(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_PAINT && message->hwnd == g_paintedWindow) {
        ++g_paints;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(WindowCommandsTest, TheSidebarFollowsARelayDropAndTheRecoveryByItself) {
    Open();
    window().Type(kAccessKey, kDemoAccessKey);
    window().Click(kConnect);
    ASSERT_TRUE(window().WaitForIdle());
    ASSERT_TRUE(window().record().engine->running());
    ShowWindow(window().window(), SW_SHOWNOACTIVATE);  // a hidden window is never painted
    const auto painted = [&] { return window().record().paintedConnection; };
    ASSERT_TRUE(window().PumpUntil([&] { return painted() == PaintedConnection{true, true}; }, seconds(10)));

    // Nothing changes: the watch does not repaint.
    g_paintedWindow = window().window();
    g_paints = 0;
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, CountPaints, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    window().PumpFor(milliseconds(1600));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(g_paints, 0);

    PostFault(R"({"name":"refuse-upgrades","count":2,"status":503})");
    PostFault(R"({"name":"close-relays"})");
    EXPECT_TRUE(window().PumpUntil([&] { return painted() == PaintedConnection{true, false}; }, seconds(5)))
        << "the drop is shown without any command";
    EXPECT_TRUE(window().PumpUntil([&] { return painted() == PaintedConnection{true, true}; }, seconds(30)))
        << "and so is the recovery";
}

TEST_F(WindowCommandsTest, ASecondPressWhileBusyDoesNothingAndLogsNothing) {
    Open();
    window().Type(kAccessKey, kDemoAccessKey);
    PostFault(R"({"name":"delay-http","ms":1500,"count":1,"pathPrefix":"/api/connections/request"})");
    window().Click(kConnect);
    ASSERT_TRUE(Busy());
    const std::wstring log = window().Text(kActivityLog);

    window().Command(kConnect);
    window().Command(kGetNetworks);
    window().Command(kDisconnect);
    EXPECT_EQ(window().Text(kActivityLog), log);
    EXPECT_EQ(window().Text(kStatusLine), L"正在请求连接授权...");

    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(CallsTo("/api/connections/request").size(), 1u) << "one worker ran";
    EXPECT_TRUE(CallsTo("/api/devices/resolve").empty());
    EXPECT_EQ(CallsTo("/api/connections/").size(), 1u) << "no disconnect was reported";
}

TEST_F(WindowCommandsTest, DisconnectStopsTheTunnelAndEndsTheSession) {
    Open();
    window().Type(kAccessKey, kDemoAccessKey);
    window().Click(kConnect);
    ASSERT_TRUE(window().WaitForIdle());
    const std::wstring connectionId = window().record().state.connectionId;
    ASSERT_FALSE(connectionId.empty());
    const std::size_t before = window().LogLines().size();

    window().Click(kDisconnect);
    EXPECT_EQ(window().Text(kStatusLine), L"正在停止软件隧道...");
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"软件隧道已停止。");
    EXPECT_FALSE(window().record().engine->running());
    EXPECT_TRUE(window().record().state.connectionId.empty());
    EXPECT_TRUE(window().record().state.assignedAddress.empty());
    EXPECT_EQ(window().ComboEntries(kTargetNetwork), (std::vector<std::wstring>{L"ALL"})) << "offered once";
    EXPECT_EQ(window().ComboSelection(kTargetNetwork), L"ALL");
    const auto lines = window().NewLogLinesSince(before);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"正在停止软件隧道...");
    EXPECT_EQ(lines[1], L"远程调试会话已断开。");
    EXPECT_EQ(lines.back(), L"软件隧道已停止。");
    EXPECT_EQ(CallsTo("/api/connections/" + std::string(connectionId.begin(), connectionId.end()) + "/disconnect").size(), 1u);
}

TEST_F(WindowCommandsTest, TheTestButtonMeasuresTheTypedAddress) {
    Open();
    window().Type(kTestAddress, L" 999.1.1.1 ");
    window().Click(kTest);
    EXPECT_EQ(window().Text(kStatusLine), L"正在测试通讯延迟...");
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"通讯延迟测试失败：测试 IP 无效。");
    EXPECT_EQ(window().record().state.latencyText, L"IP 无效") << "the operation's saved result reached the window";
}

TEST_F(WindowCommandsTest, TheDesktopButtonRequestsARemoteDesktopSession) {
    PostScenario(DemoScenario(
        R"([{"path":"/api/devices/*/remote-desktop/session","code":"REMOTE_DESKTOP_UNAVAILABLE","message":"无远程桌面"}])"));
    Open([](ClientState& state) { state.deviceNumber = kDemoDeviceNumber; });
    window().Type(kAccessKey, kDemoAccessKey);
    window().Click(kDesktop);
    EXPECT_EQ(window().Text(kStatusLine), L"正在请求远程桌面...");
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"远程桌面失败：无远程桌面");
    EXPECT_EQ(CallsTo("/api/devices/SITE-0001/remote-desktop/session").size(), 1u);
}

TEST_F(WindowCommandsTest, CopyWithAnEmptyKeyLeavesTheClipboardAlone) {
    Open();
    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"held by another program"));
    window().Type(kAccessKey, L"   ");
    window().Click(kCopy);
    EXPECT_EQ(window().LogLines().back(), L"当前没有可复制的密钥。");
    EXPECT_EQ(window().Text(kStatusLine), L"当前没有可复制的密钥。");
    EXPECT_EQ(ReadClipboardText(), L"held by another program");
}

TEST_F(WindowCommandsTest, CopyPutsTheTrimmedKeyOnTheClipboard) {
    Open();
    window().Type(kAccessKey, L" OVK-COPY-ME ");
    window().Click(kCopy);
    EXPECT_EQ(window().LogLines().back(), L"接入密钥已复制。");
    EXPECT_EQ(ReadClipboardText(), L"OVK-COPY-ME");
    EXPECT_EQ(window().Text(kStatusLine), L"接入密钥已复制。");
}

}  // namespace
}  // namespace ostrevane::testing
