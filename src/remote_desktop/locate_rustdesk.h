// Finding the RustDesk executable: the remembered one, the usual install places, and as a last
// resort the build that the control service names, downloaded into the shared runtime directory.
#pragma once

#include <string>

#include "settings/client_state.h"
#include "settings/json_value.h"

namespace ostrevane {

// Whether the path lies inside SharedRuntimeDirectory (text test, letter case ignored).
bool IsInSharedRuntimeDirectory(const std::wstring& path);

// The line the user reads when the shared runtime directory could not be trusted: nothing in it
// was adopted or started.
inline constexpr wchar_t kUntrustedSharedDirectoryText[] =
    L"未找到 RustDesk 程序：共享运行目录可被非管理员写入且无法修复，其中的文件未被使用：";

// The remembered rustDeskPath when it exists outside the shared runtime directory, else the
// first install place that exists, else FetchRustDesk; a place that standard users can change
// (IsAdministratorsOnly false for the file or its folder) is skipped. Empty when none was found;
// `problem`, when given, then says why when the shared runtime directory was refused.
std::wstring LocateRustDesk(ClientState& state, const JsonValue* server, std::wstring* problem = nullptr);

// Makes the shared runtime directory administrators-only (or repairs it), then: the earlier
// download (the directory's own rustdesk.exe) above 1 MiB, or a new, completed download of the
// description's windowsDownloadUrl above 1 MiB (then remembered in rustDeskPath and saved).
// Empty otherwise, and nothing is fetched into a refused directory. Throws only when the download
// address cannot be split into its parts.
std::wstring FetchRustDesk(ClientState& state, const JsonValue* server, std::wstring* problem = nullptr);

}  // namespace ostrevane
