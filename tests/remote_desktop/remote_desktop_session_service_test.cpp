// The remote-desktop command where it ends before RustDesk starts: refusals, no RustDesk to be
// found, and errors of the request, against the reference service.
#include "remote_desktop/remote_desktop_session.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "remote_desktop/rustdesk_config.h"
#include "remote_desktop_scenario.h"
#include "rustdesk_places.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "standin_support.h"
#include "support/reference_service.h"
#include "support/state_guards.h"

namespace ostrevane::testing {
namespace {

std::string ErrorPage() { return R"({"/downloads/rustdesk.exe":{"body":"<html>)" + std::string(3000, 'e') + R"(</html>"}})"; }

class RemoteDesktopRefusalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServiceData(L"POST", L"/admin/reset", "{}");
        PostScenario(RemoteDesktopScenario(
            R"({"rustDeskId":"318 402 775","accessPassword":"demo-8842","server":)" + DemoRemoteDesktopServer() + "}",
            ErrorPage()));
        state_.serverUrl = ServiceUrl();
        state_.deviceNumber = L"SITE-0001";
        state_.deviceSecret = L"OVK-DEMO-7F3A-2C91-5E08";
    }
    void TearDown() override { ServiceData(L"POST", L"/admin/reset", "{}"); }

    std::wstring Run() {
        std::wstring message;
        OpenRemoteDesktop(state_, nullptr, message);
        return message;
    }
    bool SettingsSaved() const { return GetFileAttributesW(SettingsFilePath().c_str()) != INVALID_FILE_ATTRIBUTES; }
    void ExpectConfigurationUntouched() const {
        for (const auto& snapshot : configs_) {
            EXPECT_EQ(ReadFileBytes(snapshot->path()), snapshot->original()) << snapshot->path().c_str();
        }
    }
    std::vector<RecordedCall> SessionRequests() const {
        std::vector<RecordedCall> calls;
        for (const RecordedCall& call : RecordedCalls()) {
            if (call.method == "POST") {
                calls.push_back(call);
            }
        }
        return calls;
    }

    SettingsFileGuard settings_;
    EmptiedRustDeskPlaces emptied_;
    std::vector<std::unique_ptr<FileSnapshot>> configs_ = SnapshotFiles(RustDeskConfigPaths());
    ClientState state_;
};

TEST_F(RemoteDesktopRefusalTest, RefusalShowsTheServiceMessageAndSavesNothing) {
    PostScenario(RemoteDesktopScenario(R"({"rustDeskId":"1"})", "{}",
                                       R"([{"path":"/api/devices/*/remote-desktop/session","code":"DEVICE_OFFLINE",)"
                                       R"("message":"现场设备离线","status":409}])"));
    EXPECT_EQ(Run(), L"远程桌面失败：现场设备离线");
    // The engineer id made for the request is used but not stored.
    ASSERT_EQ(state_.engineerId.size(), 12u);
    EXPECT_EQ(state_.engineerId.rfind(L"ENG-", 0), 0u);
    const std::vector<RecordedCall> calls = SessionRequests();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].target, "/api/devices/SITE-0001/remote-desktop/session");
    EXPECT_EQ(calls[0].body, R"({"deviceNumber":"SITE-0001","deviceSecret":"OVK-DEMO-7F3A-2C91-5E08","engineerId":")" +
                                 WideToUtf8(state_.engineerId) + R"("})");
    EXPECT_FALSE(SettingsSaved());
    EXPECT_TRUE(StandinWindows().empty());
    ExpectConfigurationUntouched();
}

TEST_F(RemoteDesktopRefusalTest, DeviceWithoutRemoteDesktopIsRefused) {
    state_.deviceNumber = L"SITE-0002";
    state_.deviceSecret = L"OVK-DEMO-WAREHOUSE-41D7";
    state_.engineerId = L"ENG-12345678";
    const std::wstring message = Run();
    EXPECT_EQ(message.rfind(L"远程桌面失败：", 0), 0u) << WideToUtf8(message);
    EXPECT_GT(message.size(), std::wstring(L"远程桌面失败：").size());
    EXPECT_EQ(state_.engineerId, L"ENG-12345678");
    EXPECT_FALSE(SettingsSaved());
}

TEST_F(RemoteDesktopRefusalTest, DeviceNumberAndBodyValuesAreEncoded) {
    state_.deviceNumber = L"SITE 01/中";
    state_.deviceSecret = L"key \"quoted\" \\";
    state_.engineerId = L"ENG-12345678";
    EXPECT_EQ(Run().rfind(L"远程桌面失败：", 0), 0u);
    const std::vector<RecordedCall> calls = SessionRequests();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].target, "/api/devices/SITE%2001%2F%E4%B8%AD/remote-desktop/session");
    EXPECT_EQ(calls[0].body,
              "{\"deviceNumber\":\"SITE 01/\xE4\xB8\xAD\",\"deviceSecret\":\"key \\\"quoted\\\" \\\\\","
              "\"engineerId\":\"ENG-12345678\"}");
}

TEST_F(RemoteDesktopRefusalTest, NoRustDeskToBeFoundEndsBeforeConfiguring) {
    state_.engineerId = L"ENG-12345678";
    EXPECT_EQ(Run(), L"未找到 RustDesk 程序。");
    EXPECT_FALSE(SettingsSaved());
    EXPECT_EQ(state_.rustDeskPath, L"");
    ExpectConfigurationUntouched();
    EXPECT_TRUE(StandinWindows().empty());
}

TEST_F(RemoteDesktopRefusalTest, TransportErrorsLeaveTheOperation) {
    state_.serverUrl = L"http://127.0.0.1:1";
    EXPECT_THROW(Run(), std::runtime_error);
    EXPECT_FALSE(SettingsSaved());
}

TEST_F(RemoteDesktopRefusalTest, MalformedAnswerLeavesTheOperation) {
    PostScenario(RemoteDesktopScenario(R"({"rustDeskId":"1"})", "{}",
                                       R"([{"path":"/api/devices/*/remote-desktop/session","rawBody":"{\"success\":tru",)"
                                       R"("contentType":"application/json"}])"));
    EXPECT_THROW(Run(), std::runtime_error);
    EXPECT_FALSE(SettingsSaved());
}

}  // namespace
}  // namespace ostrevane::testing
