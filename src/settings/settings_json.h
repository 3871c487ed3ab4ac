// The settings file's content, apart from the file itself: the exact text written for a
// ClientState and the field-by-field rules for taking values from a parsed file.
#pragma once

#include <string>

#include "settings/client_state.h"
#include "settings/json_value.h"

namespace ostrevane {

// "{", one line per field in record order ("  \"key\": value,"), the profile list on one line,
// "}"; every line ends with a single line feed.
std::wstring SettingsFileText(const ClientState& state);

// Overwrites the fields that `root` holds with the right JSON type and keeps the rest;
// the profile list is always replaced. serverUrl is normalised and an empty profileName
// is filled from deviceName. The engineer id is left to the caller.
void ApplySettingsRoot(const JsonValue& root, ClientState& state);

}  // namespace ostrevane
