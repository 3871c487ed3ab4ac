// Resolve, connect, disconnect and the failure clean-up against the reference service, with the
// stand-in driver so that the tunnel really starts, the real registry and the real settings file.
#include <gtest/gtest.h>

#include <stdexcept>

#include "control/api_envelope.h"
#include "control/connect_operations.h"
#include "control/proxy_bypass.h"
#include "control/session_end.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "support/divert_files_choice.h"
#include "support/demo_scenario.h"
#include "support/divert_harness.h"
#include "support/genuine_divert.h"
#include "support/reference_service.h"
#include "support/state_guards.h"
#include "support/test_files.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane::testing {
namespace {

struct Recorded {
    std::string target;
    std::string body;
};

std::vector<Recorded> RecordedRequests() {
    std::vector<Recorded> requests;
    const JsonValue data = ServiceData(L"GET", L"/admin/requests");
    if (const auto* list = std::get_if<JsonArray>(&data)) {
        for (const JsonValue& entry : *list) {
            requests.push_back({JsonText(entry, L"target"), JsonText(entry, L"body")});
        }
    }
    return requests;
}

std::vector<Recorded> RequestsTo(const std::string& prefix) {
    std::vector<Recorded> matching;
    for (const Recorded& request : RecordedRequests()) {
        if (request.target.rfind(prefix, 0) == 0) {
            matching.push_back(request);
        }
    }
    return matching;
}

ClientState SavedState() {
    ClientState saved;
    saved.engineerId = L"unchanged";
    LoadClientState(saved);
    return saved;
}

class ControlOperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServiceData(L"POST", L"/admin/reset", "{}");
        testing::UseDivertLibraryIn(DivertStandinDirectory());
        TunnelEngineOptions options;
        options.runServiceCommands = false;
        engine_ = std::make_unique<TunnelEngine>(options);
        state_.serverUrl = ServiceUrl();
        state_.deviceSecret = L"OVK-DEMO-7F3A-2C91-5E08";
        state_.deviceNumber = L"SITE-0001";
        state_.engineerId = L"ENG-12345678";
    }
    void TearDown() override {
        engine_.reset();
        testing::UseEmbeddedDivertFiles();
        ServiceData(L"POST", L"/admin/reset", "{}");
    }
    std::wstring Run(WorkerOperation operation) {
        std::wstring message;
        operation(state_, &engine_, message);
        return message;
    }

    SettingsFileGuard settings_;
    ProxyOverrideGuard proxy_{L"*.local"};
    DivertHarness harness_;
    std::unique_ptr<TunnelEngine> engine_;
    ClientState state_;
};

TEST_F(ControlOperationsTest, ResolveLearnsTheDeviceAndItsNetworks) {
    state_.deviceNumber.clear();
    EXPECT_EQ(Run(ResolveDevice), L"已获取现场端 SITE-0001 的共享网段。");
    EXPECT_EQ(state_.deviceNumber, L"SITE-0001");
    EXPECT_EQ(state_.deviceName, L"演示现场");
    EXPECT_EQ(state_.profileName, L"演示现场");
    EXPECT_EQ(state_.routesText, L"192.168.1.0/24\r\n10.20.0.0/16");
    EXPECT_EQ(state_.targetNetwork, L"192.168.1.0/24");
    EXPECT_EQ(SavedState().routesText, state_.routesText) << "the result reaches the window through the file";
    const auto requests = RequestsTo("/api/devices/resolve");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "{\"deviceSecret\":\"OVK-DEMO-7F3A-2C91-5E08\"}");
}

TEST_F(ControlOperationsTest, ARefusedResolveChangesNothing) {
    state_.deviceSecret = L"OVK-UNKNOWN";
    const ClientState before = state_;
    const std::wstring message = Run(ResolveDevice);
    EXPECT_EQ(message.rfind(L"Resolve failed: ", 0), 0u);
    EXPECT_GT(message.size(), std::wstring(L"Resolve failed: ").size()) << "the service's message follows";
    EXPECT_EQ(state_, before);
    EXPECT_FALSE(ReadFileBytes(SettingsFilePath())) << "nothing was saved";
}

TEST_F(ControlOperationsTest, ResolveWithoutStringNetworksKeepsTheRoutes) {
    PostScenario(DemoScenario(
        R"([{"path":"/api/devices/resolve","body":{"success":true,"data":{"deviceNumber":"N-7","sharedNetworks":[1,null]}}}])"));
    state_.routesText = L"10.9.0.0/16";
    state_.targetNetwork = L"10.9.0.0/16";
    EXPECT_EQ(Run(ResolveDevice), L"已获取现场端 N-7 的共享网段。");
    EXPECT_EQ(state_.routesText, L"10.9.0.0/16");
    EXPECT_EQ(state_.targetNetwork, L"10.9.0.0/16");
    EXPECT_EQ(state_.profileName, L"N-7") << "without a device name the number names the profile";
}

TEST_F(ControlOperationsTest, ConnectAuthorizesAddsTheBypassAndStartsTheTunnel) {
    state_.targetNetwork = L"10.20.0.0/16";
    const std::wstring message = Run(ConnectOperation);
    ASSERT_FALSE(state_.connectionId.empty()) << WideToUtf8(message);
    EXPECT_EQ(message, L"软件隧道未运行。\r\n连接授权成功：" + state_.connectionId + L"，分配地址 " + state_.assignedAddress +
                           L"，路由 10.20.0.0/16\r\n已加入系统代理旁路：10.20.*\r\n工程师端软件隧道已启动：" +
                           state_.connectionId);
    EXPECT_TRUE(engine_->running());
    EXPECT_EQ(ReadProxyOverride(), L"*.local;10.20.*");
    EXPECT_EQ(SavedState().connectionId, state_.connectionId);
    EXPECT_EQ(state_.heartbeatMessage, L"");
    const auto requests = RequestsTo("/api/connections/request");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "{\"deviceNumber\":\"SITE-0001\",\"deviceSecret\":\"OVK-DEMO-7F3A-2C91-5E08\","
                                "\"targetNetwork\":\"10.20.0.0/16\",\"engineerId\":\"ENG-12345678\",\"clientPublicKey\":\"\"}")
        << "the engineer's chosen target network reaches the request";
}

TEST_F(ControlOperationsTest, ConnectEndsTheEarlierSessionFirst) {
    state_.targetNetwork = L"ALL";
    Run(ConnectOperation);
    const std::wstring first = state_.connectionId;
    const std::wstring message = Run(ConnectOperation);
    EXPECT_NE(state_.connectionId, first);
    EXPECT_EQ(message.rfind(L"远程调试会话已断开。\r\n已移除系统代理旁路：192.168.1.*;10.20.*\r\n软件隧道已停止。\r\n", 0), 0u)
        << WideToUtf8(message);
    const auto reports = RequestsTo("/api/connections/" + WideToUtf8(first) + "/disconnect");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].body, "{\"engineerId\":\"ENG-12345678\",\"reason\":\"本地客户端断开连接\"}");
}

TEST_F(ControlOperationsTest, AFailedTunnelStartIsReportedOnceAndCleanedUp) {
    testing::UseDivertLibraryIn(GenuineDivertDirectory());  // the genuine library cannot open its driver here
    WriteProxyOverride(L"*.local;10.20.*");  // the user's own entry, equal to a route's pattern
    state_.targetNetwork = L"ALL";
    std::string error;
    try {
        Run(ConnectOperation);
    } catch (const std::runtime_error& failure) {
        error = failure.what();
    }
    EXPECT_EQ(error.rfind("WinDivertOpen failed for filter: outbound and ip", 0), 0u) << error;
    ASSERT_FALSE(state_.connectionId.empty());
    const std::string connectionId = WideToUtf8(state_.connectionId);
    EXPECT_EQ(ReadProxyOverride(), L"*.local;10.20.*;192.168.1.*");

    RunFailureCleanUp(state_, &engine_);
    const auto reports = RequestsTo("/api/connections/");
    ASSERT_EQ(reports.size(), 2u) << "the request and exactly one disconnect report";
    EXPECT_EQ(reports[1].target, "/api/connections/" + connectionId + "/disconnect");
    EXPECT_EQ(reports[1].body, "{\"engineerId\":\"ENG-12345678\",\"reason\":\"本地隧道启动失败\"}");
    EXPECT_EQ(state_.connectionId, L"");
    EXPECT_EQ(state_.assignedAddress, L"");
    EXPECT_EQ(state_.routesText, L"");
    EXPECT_EQ(ReadProxyOverride(), L"*.local;10.20.*") << "a failed start leaves no stale bypass entries";
    const ClientState saved = SavedState();
    EXPECT_EQ(saved.connectionId, L"");
    EXPECT_EQ(saved.targetNetwork, L"ALL") << "the clean-up leaves the target network alone";
    EXPECT_FALSE(engine_->running());
}

TEST_F(ControlOperationsTest, TheCleanUpSurvivesAnUnreachableService) {
    state_.serverUrl = L"http://127.0.0.1:9";
    state_.connectionId = L"c-lost";
    state_.routesText = L"10.20.0.0/16";
    WriteProxyOverride(L"*.local");
    AddProxyBypass({state_.routesText});
    RunFailureCleanUp(state_, &engine_);
    EXPECT_EQ(state_.connectionId, L"");
    EXPECT_EQ(SavedState().connectionId, L"");
    EXPECT_EQ(ReadProxyOverride(), L"*.local");
}

TEST_F(ControlOperationsTest, DisconnectStopsReportsRemovesAndClears) {
    state_.targetNetwork = L"ALL";
    Run(ConnectOperation);
    const std::string connectionId = WideToUtf8(state_.connectionId);
    state_.heartbeatMessage = L"DEVICE_OFFLINE";
    EXPECT_EQ(Run(DisconnectOperation),
              L"远程调试会话已断开。\r\n已移除系统代理旁路：192.168.1.*;10.20.*\r\n软件隧道已停止。")
        << "the stop, the outcome, comes last";
    EXPECT_FALSE(engine_->running());
    EXPECT_EQ(ReadProxyOverride(), L"*.local");
    const ClientState saved = SavedState();
    EXPECT_EQ(saved.connectionId, L"");
    EXPECT_EQ(saved.assignedAddress, L"");
    EXPECT_EQ(saved.routesText, L"");
    EXPECT_EQ(saved.targetNetwork, L"ALL");
    EXPECT_EQ(saved.heartbeatMessage, L"") << "a disconnect ends the automatic retries";
    const auto reports = RequestsTo("/api/connections/" + connectionId + "/disconnect");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].body, "{\"engineerId\":\"ENG-12345678\",\"reason\":\"本地客户端断开连接\"}");
}

TEST_F(ControlOperationsTest, TheUsersOwnEntriesSurviveConnectResolveAndDisconnect) {
    // A resolve during the session brings other networks than the session was granted.
    PostScenario(DemoScenario(R"([{"path":"/api/devices/resolve","body":{"success":true,"data":)"
                              R"({"deviceNumber":"SITE-0001","sharedNetworks":["172.30.0.0/16"]}}}])"));
    WriteProxyOverride(L"192.168.1.*;*.local");
    state_.targetNetwork = L"ALL";
    Run(ConnectOperation);
    ASSERT_FALSE(state_.connectionId.empty());
    EXPECT_EQ(ReadProxyOverride(), L"192.168.1.*;*.local;10.20.*");
    Run(ConnectOperation);  // ends the earlier session first
    EXPECT_EQ(ReadProxyOverride(), L"192.168.1.*;*.local;10.20.*");
    Run(ResolveDevice);
    ASSERT_EQ(state_.routesText, L"172.30.0.0/16");
    const std::wstring message = Run(DisconnectOperation);
    EXPECT_NE(message.find(L"\r\n已移除系统代理旁路：10.20.*"), std::wstring::npos) << WideToUtf8(message);
    EXPECT_EQ(ReadProxyOverride(), L"192.168.1.*;*.local");
}

TEST_F(ControlOperationsTest, DisconnectWithoutASessionSendsNothing) {
    EXPECT_EQ(Run(DisconnectOperation), L"软件隧道未运行。");
    EXPECT_TRUE(RequestsTo("/api/connections/").empty());
}

TEST_F(ControlOperationsTest, ARefusedDisconnectReportStillClearsTheSession) {
    PostScenario(DemoScenario(R"([{"path":"/api/connections/*/disconnect","code":"NOPE","message":"不行"}])"));
    state_.connectionId = L"c-1";
    state_.routesText = L"10.20.0.0/16";
    EXPECT_EQ(Run(DisconnectOperation), L"会话断开上报失败：不行\r\n软件隧道未运行。");
    EXPECT_EQ(state_.connectionId, L"");
}

TEST_F(ControlOperationsTest, ConnectionIdsArePercentEncodedInTheDisconnectPath) {
    PostScenario(R"({"connectionIds":["a b/中"],"devices":[{"accessKey":"OVK-DEMO-7F3A-2C91-5E08",)"
                 R"("deviceNumber":"SITE-0001","sharedNetworks":["10.20.0.0/16"]}]})");
    ResetService();  // the service hands out scenario connection ids from its next reset on
    state_.targetNetwork = L"ALL";
    Run(ConnectOperation);
    EXPECT_EQ(state_.connectionId, L"a b/中");
    Run(DisconnectOperation);
    EXPECT_EQ(RequestsTo("/api/connections/a%20b%2F%E4%B8%AD/disconnect").size(), 1u);
}

TEST_F(ControlOperationsTest, ARefusalStoresItsCodeForTheRetryRule) {
    for (const char* code : {"DEVICE_NOT_BOUND", "TRAFFIC_QUOTA_EXCEEDED", "CONCURRENT_LIMIT_EXCEEDED", "DEVICE_OFFLINE",
                             "DEVICE_RELAY_OFFLINE", "INVALID_TARGET"}) {
        PostScenario(DemoScenario(std::string(R"([{"path":"/api/connections/request","code":")") + code +
                                  R"(","message":"拒绝"}])"));
        state_.engineerId.clear();
        EXPECT_EQ(Run(ConnectOperation), L"软件隧道未运行。\r\nConnection authorization failed: 拒绝");
        EXPECT_EQ(state_.heartbeatMessage, Utf8ToWide(code));
        EXPECT_EQ(state_.connectionId, L"");
        EXPECT_EQ(state_.engineerId.rfind(L"ENG-", 0), 0u) << "an engineer id is made before the request";
        const ClientState saved = SavedState();
        EXPECT_EQ(saved.heartbeatMessage, Utf8ToWide(code));
        EXPECT_EQ(saved.engineerId, state_.engineerId);
        EXPECT_EQ(IsRetryableAuthorizationError(saved.heartbeatMessage), std::string(code) != "INVALID_TARGET");
    }
}

TEST_F(ControlOperationsTest, AGrantWithoutRoutesIsAnError) {
    PostScenario(DemoScenario(R"([{"path":"/api/connections/request","body":{"success":true,"data":)"
                              R"({"connectionId":"c-9","assignedAddress":"100.64.0.9","routes":[1,2]}}}])"));
    try {
        RequestConnectionAuthorization(state_);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Connection authorization response is missing connectionId, assignedAddress, or routes.");
    }
    EXPECT_EQ(state_.connectionId, L"");
}

}  // namespace
}  // namespace ostrevane::testing
