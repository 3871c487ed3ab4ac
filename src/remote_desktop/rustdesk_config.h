// Writes RustDesk's server configuration into every profile folder RustDesk may run under:
// the current user's, every folder under the system drive's "Users", and the two service
// profiles, so that RustDesk uses the service's servers however it is started.
#pragma once

#include <string>
#include <vector>

#include "settings/json_value.h"

namespace ostrevane {

// The configuration file of every roaming folder found, in order, without duplicates in any
// letter case.
std::vector<std::wstring> RustDeskConfigPaths();

// Replaces the file with the text for `server` through a temporary file, creating its folders.
// Leaves everything untouched when the description names no rendezvous server. A file that
// cannot be written, or whose path passes through a junction or symbolic link, is skipped
// silently.
void WriteRustDeskConfig(const std::wstring& path, const JsonValue& server);

// Writes every path of RustDeskConfigPaths; a failure at one does not stop the others.
void ConfigureRustDesk(const JsonValue& server) noexcept;

}  // namespace ostrevane
