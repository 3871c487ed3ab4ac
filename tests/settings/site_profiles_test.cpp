#include "settings/site_profiles.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

ClientState StateNamed(const std::wstring& name, const std::wstring& key) {
    ClientState state;
    state.profileName = name;
    state.deviceName = name;
    state.deviceSecret = key;
    state.deviceNumber = L"SITE-0001";
    state.serverUrl = L"http://10.0.0.5:8080";
    return state;
}

SiteProfile Profile(const std::wstring& name, const std::wstring& key) {
    return {name, L"http://h:1", L"D", key, L"ALL", {}};
}

TEST(ProfileFromState, CopiesTheConnectionSettingsAndTheSiteNetworks) {
    ClientState state = StateNamed(L"Plant-1", L"KEY-1");
    state.targetNetwork = L"10.20.0.0/16";
    state.routesText = L"192.168.1.0/24\r\n10.20.0.0/16";
    const SiteProfile profile = ProfileFromState(state);
    EXPECT_EQ(profile, (SiteProfile{L"Plant-1", L"http://10.0.0.5:8080", L"SITE-0001", L"KEY-1", L"10.20.0.0/16",
                                    {L"192.168.1.0/24", L"10.20.0.0/16"}}));
}

TEST(ProfileFromState, AnEmptyTargetNetworkIsStoredAsAll) {
    ClientState state = StateNamed(L"P", L"K");
    state.targetNetwork.clear();
    state.routesText = L"10.1.0.0/16";
    EXPECT_EQ(ProfileFromState(state).targetNetwork, L"ALL");
}

TEST(ProfileFromState, WithoutRoutesASingleTargetNetworkBecomesTheSiteNetwork) {
    ClientState state = StateNamed(L"P", L"K");
    state.routesText.clear();
    state.targetNetwork = L"10.8.0.0/16";
    EXPECT_EQ(ProfileFromState(state).sharedNetworks, std::vector<std::wstring>{L"10.8.0.0/16"});
    state.targetNetwork = L"all";
    EXPECT_TRUE(ProfileFromState(state).sharedNetworks.empty()) << "the word all in any case is no network";
    state.targetNetwork.clear();
    EXPECT_TRUE(ProfileFromState(state).sharedNetworks.empty());
}

TEST(ProfileFromState, RoutesSeparatedByAnySeparatorAreSplit) {
    ClientState state = StateNamed(L"P", L"K");
    state.routesText = L" 10.1.0.0/16 ;10.2.0.0/16,\r\n10.3.0.0/16 ";
    EXPECT_EQ(ProfileFromState(state).sharedNetworks,
              (std::vector<std::wstring>{L"10.1.0.0/16", L"10.2.0.0/16", L"10.3.0.0/16"}));
}

TEST(StoreProfile, ReplacesProfilesWithTheSameNameOrKeyIgnoringCase) {
    std::vector<SiteProfile> profiles = {Profile(L"plant-1", L"OTHER"), Profile(L"Line 2", L"key-1")};
    StoreProfile(profiles, Profile(L"Plant-1", L"KEY-1"));
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].name, L"Plant-1");
    EXPECT_EQ(profiles[0].deviceSecret, L"KEY-1");
}

TEST(StoreProfile, PutsTheNewProfileFirstAndKeepsTheOthersInOrder) {
    std::vector<SiteProfile> profiles = {Profile(L"A", L"ka"), Profile(L"B", L"kb"), Profile(L"C", L"kc")};
    StoreProfile(profiles, Profile(L"b", L"new"));
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles[0].name, L"b");
    EXPECT_EQ(profiles[1].name, L"A");
    EXPECT_EQ(profiles[2].name, L"C");
}

TEST(FindProfile, FindsTheFirstNameMatchIgnoringCase) {
    const std::vector<SiteProfile> profiles = {Profile(L"X", L"1"), Profile(L"Plant", L"2"), Profile(L"PLANT", L"3")};
    const SiteProfile* found = FindProfile(profiles, L"plant");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->deviceSecret, L"2") << "a hand-edited list with duplicates: the first match wins";
    EXPECT_EQ(FindProfile(profiles, L"Plan"), nullptr);
    EXPECT_EQ(FindProfile({}, L"X"), nullptr);
}

TEST(ApplyProfile, TakesTheProfileAndLeavesTheSession) {
    ClientState state = StateNamed(L"old", L"old-key");
    state.connectionId = L"c-1";
    state.assignedAddress = L"100.64.0.2";
    state.testIp = L"192.168.1.9";
    const ClientState before = state;
    ApplyProfile(state, {L"Plant-1", L"http://10.0.0.9:18650", L"SITE-9", L"KEY-9", L"10.20.0.0/16",
                         {L"192.168.1.0/24", L"10.20.0.0/16"}});
    EXPECT_EQ(state.profileName, L"Plant-1");
    EXPECT_EQ(state.deviceName, L"Plant-1");
    EXPECT_EQ(state.serverUrl, L"http://10.0.0.9:18650");
    EXPECT_EQ(state.deviceNumber, L"SITE-9");
    EXPECT_EQ(state.deviceSecret, L"KEY-9");
    EXPECT_EQ(state.targetNetwork, L"10.20.0.0/16");
    EXPECT_EQ(state.routesText, L"192.168.1.0/24\r\n10.20.0.0/16");
    EXPECT_EQ(state.connectionId, before.connectionId);
    EXPECT_EQ(state.assignedAddress, before.assignedAddress);
    EXPECT_EQ(state.testIp, before.testIp);
}

TEST(ApplyProfile, EmptyAddressTargetAndNetworksTakeTheirDefaults) {
    ClientState state = StateNamed(L"old", L"k");
    state.routesText = L"10.1.0.0/16";
    ApplyProfile(state, {L"P", L"", L"", L"K", L"", {}});
    EXPECT_EQ(state.serverUrl, kDefaultServerUrl);
    EXPECT_EQ(state.targetNetwork, L"ALL");
    EXPECT_EQ(state.routesText, L"");
}

TEST(SaveProfileIntoState, RefusesAnEmptyNameFirst) {
    ClientState state = StateNamed(L"", L"");
    state.siteProfiles = {Profile(L"A", L"ka")};
    const ProfileSaveResult result = SaveProfileIntoState(state);
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.message, L"档案未保存：请先填写档案名称。");
    EXPECT_EQ(state.siteProfiles.size(), 1u);
}

TEST(SaveProfileIntoState, RefusesAnEmptyAccessKey) {
    ClientState state = StateNamed(L"Plant-1", L"");
    const ProfileSaveResult result = SaveProfileIntoState(state);
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.message, L"档案未保存：接入密钥为空。");
    EXPECT_TRUE(state.siteProfiles.empty());
}

TEST(SaveProfileIntoState, StoresTheStatesProfileFirst) {
    ClientState state = StateNamed(L"Plant-1", L"KEY-1");
    state.siteProfiles = {Profile(L"A", L"ka")};
    const ProfileSaveResult result = SaveProfileIntoState(state);
    EXPECT_TRUE(result.saved);
    EXPECT_EQ(result.message, L"档案已保存。");
    ASSERT_EQ(state.siteProfiles.size(), 2u);
    EXPECT_EQ(state.siteProfiles[0], ProfileFromState(state));
    EXPECT_EQ(state.siteProfiles[1].name, L"A");
}

TEST(ProfileLoadedMessage, NamesTheProfile) {
    EXPECT_EQ(ProfileLoadedMessage(Profile(L"Plant-1", L"k")), L"已加载档案：Plant-1");
}

}  // namespace
}  // namespace ostrevane
