#include "control/proxy_bypass.h"

#include <windows.h>

#include "control/proxy_bypass_patterns.h"
#include "platform/unique_handle.h"
#include "settings/text_utils.h"

namespace ostrevane {

std::wstring ReadProxyOverride() {
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return {};
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), L"ProxyOverride", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
        return {};
    }
    std::wstring value(size / sizeof(wchar_t), L'\0');
    DWORD readSize = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (value.empty() || RegQueryValueExW(key.get(), L"ProxyOverride", nullptr, &type,
                                          reinterpret_cast<BYTE*>(value.data()), &readSize) != ERROR_SUCCESS) {
        return {};
    }
    value.resize(readSize / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') {
        value.pop_back();
    }
    return value;
}

void WriteProxyOverride(const std::wstring& value) {
    {
        UniqueRegistryKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
            return;
        }
        RegSetValueExW(key.get(), L"ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(kInternetSettingsKey),
                        SMTO_ABORTIFHUNG, 1500, &ignored);
}

std::wstring AddProxyBypass(const std::vector<std::wstring>& routes) {
    const std::vector<std::wstring> patterns = BypassPatternsForRoutes(routes);
    if (patterns.empty()) {
        return {};
    }
    const ProxyOverrideChange change = MergeBypassPatterns(SplitProxyOverride(ReadProxyOverride()), patterns);
    if (change.changed) {
        WriteProxyOverride(JoinLines(change.entries, L";"));
    }
    return L"已加入系统代理旁路：" + JoinLines(patterns, L";");
}

std::wstring RemoveProxyBypass(const std::vector<std::wstring>& routes) {
    const std::vector<std::wstring> patterns = BypassPatternsForRoutes(routes);
    if (patterns.empty()) {
        return {};
    }
    const ProxyOverrideChange change = RemoveBypassPatterns(SplitProxyOverride(ReadProxyOverride()), patterns);
    if (!change.changed) {
        return {};
    }
    WriteProxyOverride(JoinLines(change.entries, L";"));
    return L"已移除系统代理旁路：" + JoinLines(patterns, L";");
}

}  // namespace ostrevane
