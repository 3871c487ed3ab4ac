// The system-proxy bypass: while a session runs, the site routes are added to the current user's
// proxy exception list (ProxyOverride) so browsers send site traffic into the tunnel, not a proxy.
#pragma once

#include <string>
#include <vector>

namespace ostrevane {

inline constexpr wchar_t kInternetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The ProxyOverride value of the current user; empty when absent or unreadable.
std::wstring ReadProxyOverride();

// Writes the value as REG_SZ and tells running programs that the Internet settings changed.
void WriteProxyOverride(const std::wstring& value);

// Adds the routes' patterns; returns "已加入系统代理旁路：" and the patterns, or empty without patterns.
std::wstring AddProxyBypass(const std::vector<std::wstring>& routes);

// Removes the routes' patterns; returns "已移除系统代理旁路：" and the patterns, or empty when nothing was removed.
std::wstring RemoveProxyBypass(const std::vector<std::wstring>& routes);

}  // namespace ostrevane
