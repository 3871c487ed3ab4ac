// The site-profile list as it is stored in the settings file: one compact JSON array.
#pragma once

#include <string>
#include <vector>

#include "settings/client_state.h"
#include "settings/json_value.h"

namespace ostrevane {

// Profiles of the array member `key` of `root`, in order. Non-objects and profiles without a
// name are skipped; wrong-typed members take their defaults.
std::vector<SiteProfile> ReadSiteProfiles(const JsonValue& root, const std::wstring& key);

// The list as a JSON array without blanks or line breaks of its own.
std::wstring WriteSiteProfiles(const std::vector<SiteProfile>& profiles);

}  // namespace ostrevane
