#include "settings/settings_json.h"

#include "settings_test_support.h"
#include "settings/json_parser.h"
#include "settings/text_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace ostrevane {
namespace {

using settings_test::ExpectedAfterReload;
using settings_test::RandomClientState;

ClientState FixedState() {
    ClientState state;
    state.serverUrl = L" http://10.0.0.5:8080/ ";
    state.deviceNumber = L"D-1001";
    state.deviceSecret = L"k\"ey\\1";
    state.deviceName = L"一号站";
    state.profileName = L"Plant-1";
    state.targetNetwork = L"ALL";
    state.engineerId = L"ENG-12345678";
    state.rustDeskPath = L"C:\\Program Files\\RustDesk\\rustdesk.exe";
    state.rustDeskAccessPassword = L"p\tw";
    state.rustDeskId = L"123456789";
    state.rustDeskServiceRunning = true;
    state.connectionId = L"c-42";
    state.assignedAddress = L"100.64.0.9";
    state.routesText = L"10.1.0.0/16\r\n10.2.0.0/16";
    state.testIp = L"10.1.0.1";
    state.heartbeatMessage = L"DEVICE_OFFLINE";
    state.siteProfiles = {
        {L"Plant-1", L"10.0.0.5:8080/", L"D-1001", L"key1", L"", {L"10.1.0.0/16", L"10.2.0.0/16"}},
        {L"二号", L"https://10.9.9.9:1", L"", L"key2", L"10.8.0.0/16", {}},
    };
    return state;
}

// The exact bytes of the file for FixedState(): LF line ends, no BOM, UTF-8.
const char kFixedStateFile[] = R"golden({
  "serverUrl": "http://10.0.0.5:8080",
  "deviceNumber": "D-1001",
  "deviceSecret": "k\"ey\\1",
  "deviceName": "一号站",
  "profileName": "Plant-1",
  "networkInterfaceName": "",
  "sharedNetworksText": "192.168.1.0/24",
  "targetNetwork": "ALL",
  "engineerId": "ENG-12345678",
  "rustDeskPath": "C:\\Program Files\\RustDesk\\rustdesk.exe",
  "rustDeskAccessPassword": "p\tw",
  "rustDeskId": "123456789",
  "rustDeskServiceRunning": true,
  "connectionId": "c-42",
  "assignedAddress": "100.64.0.9",
  "routesText": "10.1.0.0/16\r\n10.2.0.0/16",
  "testIp": "10.1.0.1",
  "latencyText": "未测试",
  "heartbeatAccepted": false,
  "heartbeatMessage": "DEVICE_OFFLINE",
  "siteProfiles": [{"name":"Plant-1","serverUrl":"http://10.0.0.5:8080","deviceNumber":"D-1001","deviceSecret":"key1","targetNetwork":"ALL","sharedNetworks":["10.1.0.0/16","10.2.0.0/16"]},{"name":"二号","serverUrl":"https://10.9.9.9:1","deviceNumber":"","deviceSecret":"key2","targetNetwork":"10.8.0.0/16","sharedNetworks":[]}]
}
)golden";

TEST(ClientStateDefaults, AreTheStartUpState) {
    const ClientState state;
    EXPECT_EQ(state.serverUrl, kDefaultServerUrl);
    EXPECT_EQ(state.sharedNetworksText, L"192.168.1.0/24");
    EXPECT_EQ(state.targetNetwork, L"192.168.1.0/24");
    EXPECT_EQ(state.latencyText, L"未测试");
    EXPECT_FALSE(state.rustDeskServiceRunning);
    EXPECT_FALSE(state.heartbeatAccepted);
    EXPECT_TRUE(state.engineerId.empty());
    EXPECT_TRUE(state.deviceSecret.empty());
    EXPECT_TRUE(state.siteProfiles.empty());
}

TEST(SettingsFileText, MatchesTheGoldenBytes) {
    EXPECT_EQ(WideToUtf8(SettingsFileText(FixedState())), std::string(kFixedStateFile));
}

TEST(SettingsFileText, HasTwentyThreeLinesAndNoCarriageReturn) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const std::string bytes = WideToUtf8(SettingsFileText(RandomClientState(random)));
        ASSERT_EQ(bytes.rfind("{\n", 0), 0u);
        ASSERT_EQ(bytes.substr(bytes.size() - 2), "}\n");
        ASSERT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 23);
        ASSERT_EQ(bytes.find('\r'), std::string::npos);
        ASSERT_NE(bytes.find("\n  \"siteProfiles\": ["), std::string::npos);
    }
}

TEST(SettingsFileText, EmptyProfileListIsWrittenAsBrackets) {
    const std::wstring text = SettingsFileText(ClientState{});
    EXPECT_NE(text.find(L"\n  \"siteProfiles\": []\n}\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\n  \"heartbeatMessage\": \"\",\n"), std::wstring::npos);
}

ClientState Applied(const std::wstring& document, ClientState state = {}) {
    ApplySettingsRoot(ParseJsonDocument(document), state);
    return state;
}

TEST(ApplySettingsRoot, NormalisesTheUrlAndKeepsDefaultsOfAbsentFields) {
    const ClientState state = Applied(L"{\"serverUrl\": \"  10.0.0.5:8080/  \"}");
    ClientState expected;
    expected.serverUrl = L"http://10.0.0.5:8080";
    EXPECT_EQ(state, expected);
    EXPECT_TRUE(state.profileName.empty());
    EXPECT_TRUE(state.engineerId.empty());  // the file loader makes the id
}

TEST(ApplySettingsRoot, AbsentUrlIsNormalisedToo) {
    ClientState start;
    start.serverUrl = L"host:1//";
    EXPECT_EQ(Applied(L"{}", start).serverUrl, L"http://host:1");
    start.serverUrl = L"";
    EXPECT_EQ(Applied(L"{}", start).serverUrl, kDefaultServerUrl);
}

TEST(ApplySettingsRoot, IgnoresWrongTypedMembersFieldByField) {
    ClientState start;
    start.deviceName = L"kept";
    start.rustDeskServiceRunning = false;
    start.heartbeatAccepted = true;
    const ClientState state = Applied(
        L"{\"deviceName\": 5, \"deviceNumber\": \"D-9\", \"rustDeskServiceRunning\": \"true\","
        L" \"heartbeatAccepted\": 0, \"testIp\": null, \"routesText\": [\"10.0.0.0/8\"], \"latencyText\": {}}",
        start);
    EXPECT_EQ(state.deviceName, L"kept");
    EXPECT_EQ(state.deviceNumber, L"D-9");
    EXPECT_FALSE(state.rustDeskServiceRunning);
    EXPECT_TRUE(state.heartbeatAccepted);
    EXPECT_EQ(state.testIp, L"");
    EXPECT_EQ(state.routesText, L"");
    EXPECT_EQ(state.latencyText, L"未测试");
}

TEST(ApplySettingsRoot, TakesBooleanFlags) {
    const ClientState state = Applied(L"{\"rustDeskServiceRunning\": true, \"heartbeatAccepted\": true}");
    EXPECT_TRUE(state.rustDeskServiceRunning);
    EXPECT_TRUE(state.heartbeatAccepted);
}

TEST(ApplySettingsRoot, FillsAnEmptyProfileNameFromTheDeviceName) {
    EXPECT_EQ(Applied(L"{\"deviceName\": \"Site A\"}").profileName, L"Site A");
    EXPECT_EQ(Applied(L"{\"deviceName\": \"Site A\", \"profileName\": \"\"}").profileName, L"Site A");
    EXPECT_EQ(Applied(L"{\"deviceName\": \"Site A\", \"profileName\": \"P\"}").profileName, L"P");
}

TEST(ApplySettingsRoot, AlwaysReplacesTheProfileList) {
    ClientState start;
    start.siteProfiles = {{L"old", L"http://o", L"", L"", L"ALL", {}}};
    EXPECT_TRUE(Applied(L"{}", start).siteProfiles.empty());
    EXPECT_TRUE(Applied(L"{\"siteProfiles\": [5, \"x\", {\"serverUrl\": \"h\"}]}", start).siteProfiles.empty());
    EXPECT_TRUE(Applied(L"[1]", start).siteProfiles.empty());
    const auto read = Applied(L"{\"siteProfiles\": [{\"name\": \"new\"}]}", start).siteProfiles;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].name, L"new");
}

TEST(ApplySettingsRoot, ANonObjectRootChangesNoField) {
    ClientState start;
    start.deviceSecret = L"secret";
    start.heartbeatAccepted = true;
    for (const wchar_t* document : {L"[{\"deviceSecret\": \"x\"}]", L"\"text\"", L"null", L"12"}) {
        EXPECT_EQ(Applied(document, start), start) << document;
    }
}

TEST(ApplySettingsRoot, TrailingTextAfterTheObjectIsIgnored) {
    EXPECT_EQ(Applied(L"{\"testIp\": \"10.1.0.1\"}\n}}garbage[").testIp, L"10.1.0.1");
}

TEST(SettingsRoundTrip, RandomStatesComeBackAsSaved) {
    std::mt19937 staleRandom(5);
    const ClientState stale = RandomClientState(staleRandom);
    std::mt19937 random(20261209);
    for (int round = 0; round < 400; ++round) {
        const ClientState saved = RandomClientState(random);
        const std::string bytes = WideToUtf8(SettingsFileText(saved));
        ClientState loaded = stale;  // every field of the file overwrites a stale value
        loaded.rustDeskServiceRunning = !saved.rustDeskServiceRunning;
        loaded.heartbeatAccepted = !saved.heartbeatAccepted;
        ApplySettingsRoot(ParseJsonDocument(Utf8ToWide(bytes)), loaded);
        ASSERT_EQ(loaded, ExpectedAfterReload(saved)) << "round " << round;
    }
}

TEST(SettingsRoundTrip, LoneSurrogatesBecomeReplacementCharacters) {
    ClientState saved;
    saved.deviceName = std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"b" + static_cast<wchar_t>(0xDC01);
    saved.testIp = L"\U0001F600";
    ClientState loaded;
    ApplySettingsRoot(ParseJsonDocument(Utf8ToWide(WideToUtf8(SettingsFileText(saved)))), loaded);
    EXPECT_EQ(loaded.deviceName, L"a\uFFFDb\uFFFD");
    EXPECT_EQ(loaded.testIp, L"\U0001F600");
}

}  // namespace
}  // namespace ostrevane
