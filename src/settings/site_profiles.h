// Site profiles as the save and choose commands use them: a profile made from the current state,
// the list update that keeps names and access keys unique, and a chosen profile applied back.
// Pure: the window reads the controls and writes the settings file around these.
#pragma once

#include <string>
#include <vector>

#include "settings/client_state.h"

namespace ostrevane {

// The profile of the state: its name, address, device and key, the target network ("ALL" when
// empty) and the site networks of routesText, or the target network alone when routesText holds
// none and the target is a single network.
SiteProfile ProfileFromState(const ClientState& state);

// Removes every profile with the same name or the same access key (both ignoring letter case),
// then puts the new profile first; the others keep their order.
void StoreProfile(std::vector<SiteProfile>& profiles, SiteProfile profile);

// The first profile whose name equals the text ignoring letter case; null when there is none.
const SiteProfile* FindProfile(const std::vector<SiteProfile>& profiles, const std::wstring& name);

// Takes the profile's name, address (the default when empty), device, key, target network ("ALL"
// when empty) and networks (as routesText). The session fields stay as they are.
void ApplyProfile(ClientState& state, const SiteProfile& profile);

struct ProfileSaveResult {
    bool saved = false;
    std::wstring message;  // the activity-log line
};

// The save command on a state that has just taken the controls' values: refuses an empty name or
// an empty access key, otherwise stores the profile of the state in its list.
ProfileSaveResult SaveProfileIntoState(ClientState& state);

// The choose command's activity-log line.
std::wstring ProfileLoadedMessage(const SiteProfile& profile);

}  // namespace ostrevane
