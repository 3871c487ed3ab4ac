#include "settings/site_profiles.h"

#include <algorithm>

#include "settings/text_utils.h"

namespace ostrevane {

SiteProfile ProfileFromState(const ClientState& state) {
    SiteProfile profile;
    profile.name = state.profileName;
    profile.serverUrl = state.serverUrl;
    profile.deviceNumber = state.deviceNumber;
    profile.deviceSecret = state.deviceSecret;
    profile.targetNetwork = state.targetNetwork.empty() ? L"ALL" : state.targetNetwork;
    profile.sharedNetworks = SplitNetworkList(state.routesText);
    if (profile.sharedNetworks.empty() && !state.targetNetwork.empty() && !EqualsIgnoringCase(state.targetNetwork, L"ALL")) {
        profile.sharedNetworks.push_back(state.targetNetwork);
    }
    return profile;
}

void StoreProfile(std::vector<SiteProfile>& profiles, SiteProfile profile) {
    std::erase_if(profiles, [&](const SiteProfile& existing) {
        return EqualsIgnoringCase(existing.name, profile.name) || EqualsIgnoringCase(existing.deviceSecret, profile.deviceSecret);
    });
    profiles.insert(profiles.begin(), std::move(profile));
}

const SiteProfile* FindProfile(const std::vector<SiteProfile>& profiles, const std::wstring& name) {
    const auto found = std::find_if(profiles.begin(), profiles.end(),
                                    [&](const SiteProfile& profile) { return EqualsIgnoringCase(profile.name, name); });
    return found != profiles.end() ? &*found : nullptr;
}

void ApplyProfile(ClientState& state, const SiteProfile& profile) {
    state.profileName = profile.name;
    state.deviceName = profile.name;
    state.serverUrl = profile.serverUrl.empty() ? std::wstring(kDefaultServerUrl) : profile.serverUrl;
    state.deviceNumber = profile.deviceNumber;
    state.deviceSecret = profile.deviceSecret;
    state.targetNetwork = profile.targetNetwork.empty() ? L"ALL" : profile.targetNetwork;
    state.routesText = JoinLines(profile.sharedNetworks);
}

ProfileSaveResult SaveProfileIntoState(ClientState& state) {
    if (state.profileName.empty()) {
        return {false, L"档案未保存：请先填写档案名称。"};
    }
    if (state.deviceSecret.empty()) {
        return {false, L"档案未保存：接入密钥为空。"};
    }
    StoreProfile(state.siteProfiles, ProfileFromState(state));
    return {true, L"档案已保存。"};
}

std::wstring ProfileLoadedMessage(const SiteProfile& profile) { return L"已加载档案：" + profile.name; }

}  // namespace ostrevane
