// The settings file "Client.settings.json" in the roaming application data: where it is,
// loading it over an existing ClientState and saving a ClientState whole.
#pragma once

#include <string>

#include "settings/client_state.h"
#include "settings/engineer_id.h"
#include "settings/unreadable_copies.h"

namespace ostrevane {

// Full path of the settings file; its folder is created on the way. Relative to the current
// directory when the roaming folder is unavailable.
std::wstring SettingsFilePath();

// Overwrites the fields the file holds (a leading byte-order mark skipped); a file that is not a
// JSON object is first kept aside (unreadable_copies.h); a missing, unreadable or unparsable file keeps every
// field but gives a new engineer id, an empty file changes nothing. Never throws.
void LoadClientState(ClientState& state) noexcept;

// Replaces the file with the whole record. Failures are silent.
void SaveClientState(const ClientState& state) noexcept;

}  // namespace ostrevane
