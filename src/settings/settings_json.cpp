#include "settings/settings_json.h"

#include "settings/site_profiles_json.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

// One line of the file: a text field or a flag (exactly one of the two members is set).
struct SettingsField {
    const wchar_t* key;
    std::wstring ClientState::*text;
    bool ClientState::*flag;
};

constexpr SettingsField kSettingsFields[] = {
    {L"serverUrl", &ClientState::serverUrl, nullptr},
    {L"deviceNumber", &ClientState::deviceNumber, nullptr},
    {L"deviceSecret", &ClientState::deviceSecret, nullptr},
    {L"deviceName", &ClientState::deviceName, nullptr},
    {L"profileName", &ClientState::profileName, nullptr},
    {L"networkInterfaceName", &ClientState::networkInterfaceName, nullptr},
    {L"sharedNetworksText", &ClientState::sharedNetworksText, nullptr},
    {L"targetNetwork", &ClientState::targetNetwork, nullptr},
    {L"engineerId", &ClientState::engineerId, nullptr},
    {L"rustDeskPath", &ClientState::rustDeskPath, nullptr},
    {L"rustDeskAccessPassword", &ClientState::rustDeskAccessPassword, nullptr},
    {L"rustDeskId", &ClientState::rustDeskId, nullptr},
    {L"rustDeskServiceRunning", nullptr, &ClientState::rustDeskServiceRunning},
    {L"connectionId", &ClientState::connectionId, nullptr},
    {L"assignedAddress", &ClientState::assignedAddress, nullptr},
    {L"routesText", &ClientState::routesText, nullptr},
    {L"testIp", &ClientState::testIp, nullptr},
    {L"latencyText", &ClientState::latencyText, nullptr},
    {L"heartbeatAccepted", nullptr, &ClientState::heartbeatAccepted},
    {L"heartbeatMessage", &ClientState::heartbeatMessage, nullptr},
};

constexpr wchar_t kSiteProfilesKey[] = L"siteProfiles";

}  // namespace

std::wstring SettingsFileText(const ClientState& state) {
    std::wstring text = L"{\n";
    for (const SettingsField& field : kSettingsFields) {
        std::wstring value;
        if (field.flag != nullptr) {
            value = state.*field.flag ? L"true" : L"false";
        } else if (field.text == &ClientState::serverUrl) {
            value = JsonQuote(NormalizeServerUrl(state.serverUrl));
        } else {
            value = JsonQuote(state.*field.text);
        }
        text += L"  \"";
        text += field.key;
        text += L"\": ";
        text += value;
        text += L",\n";
    }
    text += L"  \"";
    text += kSiteProfilesKey;
    text += L"\": ";
    text += WriteSiteProfiles(state.siteProfiles);
    text += L"\n}\n";
    return text;
}

void ApplySettingsRoot(const JsonValue& root, ClientState& state) {
    for (const SettingsField& field : kSettingsFields) {
        if (field.flag != nullptr) {
            if (const bool* flag = JsonFindAs<bool>(root, field.key)) {
                state.*field.flag = *flag;
            }
        } else if (const std::wstring* text = JsonFindAs<std::wstring>(root, field.key)) {
            state.*field.text = *text;
        }
    }
    state.serverUrl = NormalizeServerUrl(state.serverUrl);
    state.siteProfiles = ReadSiteProfiles(root, kSiteProfilesKey);
    if (state.profileName.empty()) {
        state.profileName = state.deviceName;
    }
}

}  // namespace ostrevane
