// Finding the RustDesk executable: the remembered one, the usual install places, and as a last
// resort the build that the control service names, downloaded into the shared runtime directory.
#pragma once

#include <string>

#include "settings/client_state.h"
#include "settings/json_value.h"

namespace ostrevane {

// Whether the path lies inside SharedRuntimeDirectory (text test, letter case ignored).
bool IsInSharedRuntimeDirectory(const std::wstring& path);

// The remembered rustDeskPath when it exists outside the shared runtime directory, else the
// first install place that exists, else FetchRustDesk. Empty when none was found.
std::wstring LocateRustDesk(ClientState& state, const JsonValue* server);

// An earlier download above 1 MiB, or a new download of the description's windowsDownloadUrl
// when it ends up above 1 MiB (then remembered in rustDeskPath and saved). Empty otherwise.
// Throws only when the download address cannot be split into its parts.
std::wstring FetchRustDesk(ClientState& state, const JsonValue* server);

}  // namespace ostrevane
