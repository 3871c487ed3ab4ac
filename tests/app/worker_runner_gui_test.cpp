// The worker protocol through the window: what an operation that throws turns into, the failure
// clean-up for standard exceptions only, the completion message that reaches the window whatever
// happened, and a window that stays usable when the system refuses the worker thread.
#include <gtest/gtest.h>

#include <stdexcept>
#include <system_error>

#include "app/control_table.h"
#include "app/window_commands.h"
#include "settings/settings_file.h"
#include "support/reference_service.h"
#include "support/service_window_fixture.h"

namespace ostrevane::testing {
namespace {

using namespace control_id;

void ThrowsAStandardError(ClientState&, EngineSlot, std::wstring& message) {
    message = L"partial";
    throw std::runtime_error("Connection authorization response is missing connectionId, assignedAddress, or routes.");
}

void ThrowsSomethingElse(ClientState&, EngineSlot, std::wstring&) { throw 42; }

void ThrowsChineseText(ClientState&, EngineSlot, std::wstring&) { throw std::runtime_error("\xE9\x9A\xA7\xE9\x81\x93"); }

void SavesAResult(ClientState& snapshot, EngineSlot engine, std::wstring& message) {
    snapshot.latencyText = L"12 ms";
    snapshot.deviceNumber = L"SITE-WORKER";
    SaveClientState(snapshot);
    message = engine != nullptr && engine->get() != nullptr ? L"engine slot present" : L"no engine";
}

std::thread RefuseThread(std::unique_ptr<WorkerContext>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

class WorkerRunnerTest : public ServiceWindowTest {
protected:
    void OpenWithSession() {
        Open([](ClientState& state) {
            state.connectionId = L"c-held";
            state.assignedAddress = L"100.64.0.7";
            state.routesText = L"192.168.1.0/24";
        });
    }
};

TEST_F(WorkerRunnerTest, TheOperationsSavedResultsReachTheWindowWithItsMessage) {
    Open();
    StartWorker(window().record(), L"working...", SavesAResult);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"engine slot present");
    EXPECT_EQ(window().record().state.latencyText, L"12 ms");
    EXPECT_EQ(window().Text(kDeviceNumber), L"SITE-WORKER");
    EXPECT_EQ(window().LogLines().back(), L"engine slot present");
}

TEST_F(WorkerRunnerTest, AStandardExceptionCleansUpTheSessionAndReportsItsText) {
    OpenWithSession();
    StartWorker(window().record(), L"working...", ThrowsAStandardError);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine),
              L"Error: Connection authorization response is missing connectionId, assignedAddress, or routes.");
    const ClientState& state = window().record().state;
    EXPECT_TRUE(state.connectionId.empty());
    EXPECT_TRUE(state.assignedAddress.empty());
    EXPECT_TRUE(state.routesText.empty());
    const auto reports = CallsTo("/api/connections/c-held/disconnect");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].body, "{\"engineerId\":\"ENG-20000001\",\"reason\":\"本地隧道启动失败\"}");
    EXPECT_TRUE(window().Enabled(kConnect));
}

TEST_F(WorkerRunnerTest, TheExceptionTextIsReadAsUtf8) {
    Open();
    StartWorker(window().record(), L"working...", ThrowsChineseText);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"Error: 隧道");
}

TEST_F(WorkerRunnerTest, AnythingElseIsAnUnknownErrorWithoutCleanUp) {
    OpenWithSession();
    StartWorker(window().record(), L"working...", ThrowsSomethingElse);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"Unknown error.");
    EXPECT_EQ(window().LogLines().back(), L"Unknown error.");
    EXPECT_EQ(window().record().state.connectionId, L"c-held") << "nothing was cleaned up";
    EXPECT_TRUE(CallsTo("/api/").empty()) << "no disconnect was reported";
    EXPECT_FALSE(window().record().busy.load());
}

TEST_F(WorkerRunnerTest, ARefusedThreadLeavesTheWindowUsable) {
    Open();
    window().record().startWorkerThread = RefuseThread;
    window().Type(kAccessKey, kDemoAccessKey);
    window().Click(kGetNetworks);
    EXPECT_FALSE(window().record().busy.load());
    EXPECT_FALSE(window().record().worker.joinable());
    for (int id : kBusyControls) {
        EXPECT_TRUE(window().Enabled(id)) << id;
    }
    const auto lines = window().LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"正在获取现场端网段...");
    EXPECT_EQ(lines.back().rfind(L"无法启动后台任务：", 0), 0u);
    EXPECT_EQ(window().Text(kStatusLine), lines.back());

    window().record().startWorkerThread = StartWorkerThread;
    window().Click(kGetNetworks);
    ASSERT_TRUE(window().WaitForIdle());
    EXPECT_EQ(window().Text(kStatusLine), L"已获取现场端 SITE-0001 的共享网段。") << "the next command runs";
}

TEST_F(WorkerRunnerTest, ACompletionWithoutTextCountsAsEmpty) {
    Open();
    window().record().busy.store(true);
    SendMessageW(window().window(), WM_WORKER_DONE, 0, 0);
    EXPECT_EQ(window().Text(kStatusLine), L"");
    EXPECT_FALSE(window().record().busy.load());
}

}  // namespace
}  // namespace ostrevane::testing
