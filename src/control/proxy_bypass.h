// The system-proxy bypass: while a session runs, the site routes are added to the current user's
// proxy exception list (ProxyOverride) so browsers send site traffic into the tunnel, not a proxy.
// The entries the client added are recorded in the registry, so that only they are taken out
// again, also by the next start after a crash; the user's own entries stay as they were.
#pragma once

#include <string>
#include <vector>

#include "control/registry_text.h"

namespace ostrevane {

inline constexpr wchar_t kInternetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
inline constexpr wchar_t kClientRegistryKey[] = L"Software\\Ostrevane";
inline constexpr wchar_t kProxyBypassRecordValue[] = L"ProxyBypassEntries";

inline constexpr wchar_t kProxyOverrideUnreadable[] = L"系统代理例外列表（ProxyOverride）无法作为文本读取，未改动系统代理旁路。";
inline constexpr wchar_t kProxyOverrideUnwritable[] = L"系统代理例外列表（ProxyOverride）写入失败，未改动系统代理旁路。";

// The ProxyOverride value of the current user, told apart from an absent or unreadable one.
RegistryText ReadProxyOverrideValue();

// The value's text; empty when absent or unreadable.
std::wstring ReadProxyOverride();

// Writes the value as REG_SZ and tells running programs that the Internet settings changed.
// False when it could not be written.
bool WriteProxyOverride(const std::wstring& value);

// The entries the client added and has not taken out yet.
std::vector<std::wstring> ReadProxyBypassRecord();

// Adds the routes' missing patterns and records them; returns "已加入系统代理旁路：" and the
// patterns, empty without patterns, or a line saying why the value was left alone.
std::wstring AddProxyBypass(const std::vector<std::wstring>& routes);

// Takes out the recorded entries; returns "已移除系统代理旁路：" and those entries, empty when
// none was present, or a line saying why the value was left alone (the record then stays).
std::wstring RemoveProxyBypass();

}  // namespace ostrevane
