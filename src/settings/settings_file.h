// The settings file "Client.settings.json" in the roaming application data: where it is,
// loading it over an existing ClientState and saving a ClientState whole.
#pragma once

#include <string>

#include "settings/client_state.h"
#include "settings/engineer_id.h"

namespace ostrevane {

// A settings file that cannot be read as a JSON object is kept once beside itself under this
// suffix before anything can overwrite it, so hand-edited profiles are never silently lost.
inline constexpr wchar_t kUnreadableSettingsSuffix[] = L".corrupt";

// Full path of the settings file; its folder is created on the way. Relative to the current
// directory when the roaming folder is unavailable.
std::wstring SettingsFilePath();

// Overwrites the fields the file holds; a missing, unreadable or unparsable file keeps every
// field but gives a new engineer id, an empty file changes nothing. Never throws.
void LoadClientState(ClientState& state) noexcept;

// Replaces the file with the whole record. Failures are silent.
void SaveClientState(const ClientState& state) noexcept;

}  // namespace ostrevane
