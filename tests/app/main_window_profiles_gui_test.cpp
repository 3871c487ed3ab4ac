// The profile commands and the copies between the controls and the state, driven through the
// window: save (refusals, replacing by name or key, networks from the target), choose, and the
// defaults a first start shows.
#include <gtest/gtest.h>

#include "app/control_table.h"
#include "platform/file_io.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "support/service_client.h"
#include "support/service_window_fixture.h"
#include "support/test_files.h"

namespace ostrevane::testing {
namespace {

using namespace control_id;

ClientState SavedState() {
    ClientState saved;
    LoadClientState(saved);
    return saved;
}

std::vector<std::wstring> Names(const std::vector<SiteProfile>& profiles) {
    std::vector<std::wstring> names;
    for (const SiteProfile& profile : profiles) {
        names.push_back(profile.name);
    }
    return names;
}

SiteProfile Profile(const std::wstring& name, const std::wstring& key, std::vector<std::wstring> networks = {}) {
    return {name, L"http://10.0.0.9:18650", L"SITE-9", key, L"ALL", std::move(networks)};
}

using WindowProfilesTest = ServiceWindowTest;

TEST_F(WindowProfilesTest, AFirstStartShowsTheDefaults) {
    window_ = std::make_unique<WindowDriver>();  // no settings file at all
    EXPECT_EQ(window().Text(kServerUrl), kDefaultServerUrl);
    EXPECT_EQ(window().ComboEntries(kTargetNetwork), (std::vector<std::wstring>{L"ALL", L"192.168.1.0/24"}));
    EXPECT_EQ(window().ComboSelection(kTargetNetwork), L"192.168.1.0/24");
    EXPECT_EQ(window().Text(kAccessKey), L"");
    EXPECT_EQ(window().Text(kStatusLine), L"就绪。");
    EXPECT_EQ(window().record().state.latencyText, L"未测试");
    EXPECT_EQ(window().record().state.sharedNetworksText, L"192.168.1.0/24");
    EXPECT_EQ(window().Text(kEngineerId).rfind(L"ENG-", 0), 0u) << "a missing file gives a new engineer id";
    EXPECT_EQ(window().LogLines(), std::vector<std::wstring>{L"客户端启动中"});
}

TEST_F(WindowProfilesTest, TheSavedStateIsShownInTheControls) {
    Open([](ClientState& state) {
        state.deviceNumber = L"SITE-0001";
        state.deviceSecret = L"OVK-SAVED";
        state.deviceName = L"Plant-1";
        state.testIp = L"192.168.1.9";
        state.routesText = L"192.168.1.0/24\r\n10.20.0.0/16";
        state.targetNetwork = L"10.20.0.0/16";
        state.siteProfiles = {Profile(L"Line 2", L"k2"), Profile(L"Plant-1", L"OVK-SAVED")};
    });
    EXPECT_EQ(window().Text(kServerUrl), ServiceUrl());
    EXPECT_EQ(window().Text(kDeviceNumber), L"SITE-0001");
    EXPECT_EQ(window().Text(kAccessKey), L"OVK-SAVED");
    EXPECT_EQ(window().Text(kProfileName), L"Plant-1") << "the device name fills an empty profile name";
    EXPECT_EQ(window().Text(kEngineerId), kWindowTestEngineerId);
    EXPECT_EQ(window().Text(kTestAddress), L"192.168.1.9");
    EXPECT_EQ(window().ComboEntries(kTargetNetwork), (std::vector<std::wstring>{L"ALL", L"192.168.1.0/24", L"10.20.0.0/16"}));
    EXPECT_EQ(window().ComboSelection(kTargetNetwork), L"10.20.0.0/16");
    EXPECT_EQ(window().ComboEntries(kSavedProfiles), (std::vector<std::wstring>{L"Line 2", L"Plant-1"}));
    EXPECT_EQ(window().ComboSelection(kSavedProfiles), L"Plant-1");
}

TEST_F(WindowProfilesTest, TheControlsReachTheStateTrimmed) {
    Open([](ClientState& state) { state.routesText = L"192.168.1.0/24\r\n10.20.0.0/16"; });
    window().Type(kServerUrl, L"  10.0.0.5:8080/ ");
    window().Type(kAccessKey, L"  OVK-TRIMMED \t");
    window().Type(kProfileName, L" Plant-1 ");
    window().Type(kTestAddress, L" 192.168.1.9 ");
    window().ChooseEntry(kTargetNetwork, 2);
    window().Click(kSaveProfile);
    const ClientState& state = window().record().state;
    EXPECT_EQ(state.serverUrl, L"http://10.0.0.5:8080");
    EXPECT_EQ(state.deviceSecret, L"OVK-TRIMMED");
    EXPECT_EQ(state.profileName, L"Plant-1");
    EXPECT_EQ(state.deviceName, L"Plant-1") << "the name box feeds both fields";
    EXPECT_EQ(state.testIp, L"192.168.1.9");
    EXPECT_EQ(state.targetNetwork, L"10.20.0.0/16");
}

TEST_F(WindowProfilesTest, SavingWithoutANameIsRefused) {
    Open([](ClientState& state) { state.siteProfiles = {Profile(L"A", L"ka")}; });
    const std::string before = ReadFileBytes(SettingsFilePath()).value_or("");
    window().Type(kAccessKey, L"OVK-1");
    window().Click(kSaveProfile);
    EXPECT_EQ(window().LogLines().back(), L"档案未保存：请先填写档案名称。");
    EXPECT_EQ(window().Text(kStatusLine), L"档案未保存：请先填写档案名称。") << "the refusal is seen on the connect page";
    EXPECT_EQ(ReadFileBytes(SettingsFilePath()).value_or(""), before) << "the file is not written";
    EXPECT_EQ(window().ComboEntries(kSavedProfiles), std::vector<std::wstring>{L"A"});
}

TEST_F(WindowProfilesTest, ASettingsFileWithAByteOrderMarkKeepsItsProfilesThroughASave) {
    Open([](ClientState& state) { state.siteProfiles = {Profile(L"A", L"ka"), Profile(L"B", L"kb")}; });
    window().Close();
    const std::string saved = ReadFileBytes(SettingsFilePath()).value_or("");
    ASSERT_TRUE(WriteFileReplacing(SettingsFilePath(), "\xEF\xBB\xBF" + saved));  // as Notepad saves it

    window_ = std::make_unique<WindowDriver>();
    EXPECT_EQ(window().ComboEntries(kSavedProfiles), (std::vector<std::wstring>{L"A", L"B"}));
    window().Type(kAccessKey, L"OVK-NEW");
    window().Type(kProfileName, L"C");
    window().Click(kSaveProfile);
    ClientState reloaded;
    LoadClientState(reloaded);
    ASSERT_EQ(reloaded.siteProfiles.size(), 3u);
    EXPECT_EQ(reloaded.siteProfiles[0].name, L"C");
    EXPECT_EQ(reloaded.siteProfiles[1].name, L"A");
    EXPECT_EQ(reloaded.siteProfiles[2].name, L"B");
}

TEST_F(WindowProfilesTest, SavingWithoutAnAccessKeyIsRefused) {
    Open();
    const std::string before = ReadFileBytes(SettingsFilePath()).value_or("");
    window().Type(kProfileName, L"Plant-1");
    window().Click(kSaveProfile);
    EXPECT_EQ(window().LogLines().back(), L"档案未保存：接入密钥为空。");
    EXPECT_EQ(ReadFileBytes(SettingsFilePath()).value_or(""), before);
    EXPECT_TRUE(window().ComboEntries(kSavedProfiles).empty());
}

TEST_F(WindowProfilesTest, SavingReplacesTheProfilesWithTheSameNameOrKey) {
    Open([](ClientState& state) { state.siteProfiles = {Profile(L"plant-1", L"OTHER-KEY"), Profile(L"Line 2", L"KEY-1")}; });
    window().Type(kProfileName, L"Plant-1");
    window().Type(kAccessKey, L"KEY-1");
    window().Click(kSaveProfile);
    EXPECT_EQ(window().LogLines().back(), L"档案已保存。");
    EXPECT_EQ(window().ComboEntries(kSavedProfiles), std::vector<std::wstring>{L"Plant-1"});
    EXPECT_EQ(window().ComboSelection(kSavedProfiles), L"Plant-1");
    const ClientState saved = SavedState();
    ASSERT_EQ(saved.siteProfiles.size(), 1u);
    EXPECT_EQ(saved.siteProfiles[0].name, L"Plant-1");
    EXPECT_EQ(saved.siteProfiles[0].deviceSecret, L"KEY-1");
    EXPECT_EQ(saved.siteProfiles[0].serverUrl, ServiceUrl());
}

TEST_F(WindowProfilesTest, ANewProfileGoesFirst) {
    Open([](ClientState& state) { state.siteProfiles = {Profile(L"A", L"ka"), Profile(L"B", L"kb")}; });
    window().Type(kProfileName, L"C");
    window().Type(kAccessKey, L"kc");
    window().Click(kSaveProfile);
    EXPECT_EQ(window().ComboEntries(kSavedProfiles), (std::vector<std::wstring>{L"C", L"A", L"B"}));
    EXPECT_EQ(Names(SavedState().siteProfiles), (std::vector<std::wstring>{L"C", L"A", L"B"}));
}

TEST_F(WindowProfilesTest, WithoutRoutesASingleTargetNetworkIsSavedAsTheSiteNetwork) {
    Open([](ClientState& state) { state.targetNetwork = L"10.8.0.0/16"; });
    ASSERT_EQ(window().ComboSelection(kTargetNetwork), L"10.8.0.0/16");
    window().Type(kProfileName, L"Plant-1");
    window().Type(kAccessKey, L"KEY-1");
    window().Click(kSaveProfile);
    ASSERT_EQ(SavedState().siteProfiles.size(), 1u);
    EXPECT_EQ(SavedState().siteProfiles[0].sharedNetworks, std::vector<std::wstring>{L"10.8.0.0/16"});
    EXPECT_EQ(SavedState().siteProfiles[0].targetNetwork, L"10.8.0.0/16");
}

TEST_F(WindowProfilesTest, ATargetOfAllIsSavedWithoutSiteNetworks) {
    Open([](ClientState& state) { state.targetNetwork = L"all"; });
    window().Type(kProfileName, L"Plant-1");
    window().Type(kAccessKey, L"KEY-1");
    window().Click(kSaveProfile);
    ASSERT_EQ(SavedState().siteProfiles.size(), 1u);
    EXPECT_TRUE(SavedState().siteProfiles[0].sharedNetworks.empty());
}

TEST_F(WindowProfilesTest, ChoosingAProfileAppliesItAndOffersItsNetworks) {
    Open([](ClientState& state) {
        state.connectionId = L"c-kept";
        state.assignedAddress = L"100.64.0.9";
        state.siteProfiles = {Profile(L"Line 2", L"k2"),
                              {L"Plant-1", L"http://10.0.0.7:18650", L"SITE-7", L"KEY-7", L"10.20.0.0/16",
                               {L"192.168.1.0/24", L"10.20.0.0/16"}}};
    });
    window().ChooseEntry(kSavedProfiles, 1);
    EXPECT_EQ(window().LogLines().back(), L"已加载档案：Plant-1");
    EXPECT_EQ(window().Text(kStatusLine), L"已加载档案：Plant-1");
    EXPECT_EQ(window().Text(kProfileName), L"Plant-1");
    EXPECT_EQ(window().Text(kAccessKey), L"KEY-7");
    EXPECT_EQ(window().Text(kServerUrl), L"http://10.0.0.7:18650");
    EXPECT_EQ(window().Text(kDeviceNumber), L"SITE-7");
    EXPECT_EQ(window().ComboEntries(kTargetNetwork), (std::vector<std::wstring>{L"ALL", L"192.168.1.0/24", L"10.20.0.0/16"}));
    EXPECT_EQ(window().ComboSelection(kTargetNetwork), L"10.20.0.0/16");
    EXPECT_EQ(window().ComboSelection(kSavedProfiles), L"Plant-1");
    const ClientState saved = SavedState();
    EXPECT_EQ(saved.routesText, L"192.168.1.0/24\r\n10.20.0.0/16");
    EXPECT_EQ(saved.deviceName, L"Plant-1");
    EXPECT_EQ(saved.connectionId, L"c-kept") << "the session fields stay";
    EXPECT_EQ(saved.assignedAddress, L"100.64.0.9");
}

TEST_F(WindowProfilesTest, OtherNotificationsOfTheProfileListDoNothing) {
    Open([](ClientState& state) { state.siteProfiles = {Profile(L"A", L"ka"), Profile(L"B", L"kb")}; });
    EXPECT_EQ(window().ComboSelection(kSavedProfiles), L"") << "no profile name, no profile chosen";
    const std::size_t before = window().LogLines().size();
    SendMessageW(window().control(kSavedProfiles), CB_SETCURSEL, 1, 0);
    window().Command(kSavedProfiles, CBN_DROPDOWN);
    window().Command(kSavedProfiles, CBN_CLOSEUP);
    EXPECT_EQ(window().LogLines().size(), before);
    EXPECT_EQ(window().Text(kAccessKey), L"");
}

}  // namespace
}  // namespace ostrevane::testing
