// The automatic authorization retry through the window: a refusal with a retryable code arms the
// 5-second timer once, ticks retry the connect until the service accepts, a tick while busy is
// skipped, and a disconnect ends the retrying.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/control_table.h"
#include "app/retry_rule.h"
#include "support/demo_scenario.h"
#include "support/reference_service.h"
#include "support/service_window_fixture.h"

namespace ostrevane::testing {
namespace {

using namespace control_id;
using std::chrono::seconds;

constexpr wchar_t kRefusal[] = L"Connection authorization failed: 现场设备离线";

std::size_t CountOf(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

class WindowRetryTest : public ServiceWindowTest {
protected:
    void RefuseAuthorizations(const std::string& count) {
        PostScenario(DemoScenario(R"([{"path":"/api/connections/request",)" + count +
                                  R"("code":"DEVICE_OFFLINE","message":"现场设备离线"}])"));
    }
    void ConnectAndFail() {
        Open();
        window().Type(kAccessKey, kDemoAccessKey);
        window().Click(kConnect);
        ASSERT_TRUE(window().WaitForIdle());
        ASSERT_TRUE(window().record().retryTimerArmed);
    }
};

TEST_F(WindowRetryTest, DeviceOfflineIsRetriedEveryFiveSecondsUntilTheServiceAccepts) {
    RefuseAuthorizations(R"("count":2,)");
    ConnectAndFail();
    const std::vector<std::wstring> afterFirst = window().LogLines();
    ASSERT_GE(afterFirst.size(), 2u);
    EXPECT_EQ(afterFirst[afterFirst.size() - 2], kRefusal);
    EXPECT_EQ(afterFirst.back(), kRetryAnnouncement) << "announced right after the failure line";
    EXPECT_EQ(window().Text(kStatusLine), kRetryAnnouncement);
    EXPECT_EQ(window().record().state.heartbeatMessage, L"DEVICE_OFFLINE");

    ASSERT_TRUE(window().PumpUntil([&] { return !window().record().state.connectionId.empty(); }, seconds(30)));
    ASSERT_TRUE(window().WaitForIdle());
    const std::vector<std::wstring> lines = window().LogLines();
    EXPECT_EQ(CountOf(lines, kRetryAnnouncement), 1u) << "not repeated while the timer stays armed";
    EXPECT_EQ(CountOf(lines, kRetryStatus), 2u);
    EXPECT_EQ(CountOf(lines, kRefusal), 2u);
    EXPECT_FALSE(window().record().retryTimerArmed) << "a connection disarms the timer";
    EXPECT_NE(window().Text(kStatusLine).find(L"工程师端软件隧道已启动：" + window().record().state.connectionId), std::wstring::npos);

    const auto requests = CallsTo("/api/connections/request");
    ASSERT_EQ(requests.size(), 3u);
    // The timer is armed after the first refusal and each tick comes a full period after the one
    // before, so retry i comes at least i periods after the first request. A busy machine only
    // delays a retry, and never by a whole period: later than that, it would be the next tick's.
    for (std::size_t i = 1; i < requests.size(); ++i) {
        const double since = requests[i].time - requests[0].time;
        EXPECT_GE(since, 5.0 * static_cast<double>(i) - 0.1) << "retry " << i;
        EXPECT_LT(since, 5.0 * static_cast<double>(i + 1)) << "retry " << i;
    }
}

TEST_F(WindowRetryTest, ANonRetryableRefusalDoesNotArmTheTimer) {
    PostScenario(DemoScenario(R"([{"path":"/api/connections/request","code":"NO_SHARED_NETWORKS","message":"无共享网段"}])"));
    Open();
    window().Type(kAccessKey, kDemoAccessKey);
    window().Click(kConnect);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_FALSE(window().record().retryTimerArmed);
    EXPECT_EQ(CountOf(window().LogLines(), kRetryAnnouncement), 0u);
}

TEST_F(WindowRetryTest, ATickWhileAWorkerRunsIsSkipped) {
    RefuseAuthorizations("");
    ConnectAndFail();
    KillTimer(window().window(), kRetryTimerId);  // the test delivers the tick itself, at a known moment
    PostFault(R"({"name":"delay-http","ms":1500,"count":1,"pathPrefix":"/api/devices/resolve"})");
    window().Click(kGetNetworks);
    ASSERT_TRUE(window().record().busy.load());
    const std::size_t before = window().LogLines().size();

    SendMessageW(window().window(), WM_TIMER, kRetryTimerId, 0);
    EXPECT_EQ(window().LogLines().size(), before);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().NewLogLinesSince(before), std::vector<std::wstring>{L"已获取现场端 SITE-0001 的共享网段。"})
        << "the tick was not queued behind the worker";
    EXPECT_EQ(CallsTo("/api/connections/request").size(), 1u);
    EXPECT_TRUE(window().record().retryTimerArmed) << "the refusal code still stands";
}

TEST_F(WindowRetryTest, ATickDoesNotSendAKeyBeingTyped) {
    RefuseAuthorizations("");
    ConnectAndFail();
    KillTimer(window().window(), kRetryTimerId);  // the test delivers the ticks itself
    ShowWindow(window().window(), SW_SHOWNOACTIVATE);
    SetFocus(window().control(kAccessKey));
    ASSERT_EQ(GetFocus(), window().control(kAccessKey));
    window().Type(kAccessKey, L"OVK-HALF");
    const std::size_t before = window().LogLines().size();

    SendMessageW(window().window(), WM_TIMER, kRetryTimerId, 0);
    EXPECT_FALSE(window().record().busy.load());
    EXPECT_EQ(window().LogLines().size(), before);
    EXPECT_EQ(CallsTo("/api/connections/request").size(), 1u) << "the half-typed key was not sent";

    // Once the box has lost the focus the key counts as typed, and the next tick sends it.
    SetFocus(window().window());
    SendMessageW(window().window(), WM_TIMER, kRetryTimerId, 0);
    ASSERT_TRUE(window().WaitForIdle());
    const auto requests = CallsTo("/api/connections/request");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].body.find("\"deviceSecret\":\"OVK-HALF\""), std::string::npos) << requests[1].body;
}

TEST_F(WindowRetryTest, DisconnectStopsTheRetries) {
    RefuseAuthorizations("");
    ConnectAndFail();
    window().Click(kDisconnect);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_FALSE(window().record().retryTimerArmed);
    EXPECT_TRUE(window().record().state.heartbeatMessage.empty());
    const std::size_t before = window().LogLines().size();

    window().PumpFor(seconds(6));
    EXPECT_EQ(window().LogLines().size(), before) << "no tick started a worker";
    EXPECT_EQ(CallsTo("/api/connections/request").size(), 1u);
}

}  // namespace
}  // namespace ostrevane::testing
