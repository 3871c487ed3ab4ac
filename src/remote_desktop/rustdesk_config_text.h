// The text of RustDesk's server configuration file, built from the server description that
// the control service sends with a remote-desktop session, and the list of files to write.
// No Win32 here, so the text is tested byte for byte.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings/json_value.h"

namespace ostrevane {

// The UTF-8 file text (line feeds only, no byte-order mark); nothing when the description
// names no rendezvous server. Members of another JSON type than string count as empty.
std::optional<std::string> RustDeskConfigText(const JsonValue& server);

// Appends the path unless the list already holds it in any letter case (one profile folder
// can be reached by two spellings, and must be written once).
void AddPathOnce(std::vector<std::wstring>& paths, std::wstring path);

}  // namespace ostrevane
