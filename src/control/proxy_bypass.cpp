#include "control/proxy_bypass.h"

#include <windows.h>

#include "control/proxy_bypass_patterns.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

bool WriteProxyBypassRecord(const std::vector<std::wstring>& entries) {
    if (entries.empty()) {
        return DeleteRegistryValue(HKEY_CURRENT_USER, kClientRegistryKey, kProxyBypassRecordValue);
    }
    return WriteRegistryText(HKEY_CURRENT_USER, kClientRegistryKey, kProxyBypassRecordValue, JoinLines(entries, L";"));
}

}  // namespace

RegistryText ReadProxyOverrideValue() { return ReadRegistryText(HKEY_CURRENT_USER, kInternetSettingsKey, L"ProxyOverride"); }

std::wstring ReadProxyOverride() { return ReadProxyOverrideValue().text; }

bool WriteProxyOverride(const std::wstring& value) {
    if (!WriteRegistryText(HKEY_CURRENT_USER, kInternetSettingsKey, L"ProxyOverride", value)) {
        return false;
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(kInternetSettingsKey),
                        SMTO_ABORTIFHUNG, 1500, &ignored);
    return true;
}

std::vector<std::wstring> ReadProxyBypassRecord() {
    return SplitProxyOverride(ReadRegistryText(HKEY_CURRENT_USER, kClientRegistryKey, kProxyBypassRecordValue).text);
}

std::wstring AddProxyBypass(const std::vector<std::wstring>& routes) {
    const std::vector<std::wstring> patterns = BypassPatternsForRoutes(routes);
    if (patterns.empty()) {
        return {};
    }
    const RegistryText current = ReadProxyOverrideValue();
    if (current.state == RegistryTextState::Unreadable) {
        return kProxyOverrideUnreadable;
    }
    const ProxyOverrideChange change = MergeBypassPatterns(SplitProxyOverride(current.text), patterns);
    if (change.changed) {
        // Recorded before they are written: a crash in between leaves nothing unrecorded behind.
        const std::vector<std::wstring> recorded = ReadProxyBypassRecord();
        if (!WriteProxyBypassRecord(MergeBypassPatterns(recorded, change.affected).entries)) {
            return kProxyOverrideUnwritable;
        }
        if (!WriteProxyOverride(JoinLines(change.entries, L";"))) {
            WriteProxyBypassRecord(recorded);
            return kProxyOverrideUnwritable;
        }
    }
    return L"已加入系统代理旁路：" + JoinLines(patterns, L";");
}

std::wstring RemoveProxyBypass() {
    const std::vector<std::wstring> recorded = ReadProxyBypassRecord();
    if (recorded.empty()) {
        return {};
    }
    const RegistryText current = ReadProxyOverrideValue();
    if (current.state == RegistryTextState::Unreadable) {
        return kProxyOverrideUnreadable;
    }
    const ProxyOverrideChange change = RemoveBypassPatterns(SplitProxyOverride(current.text), recorded);
    if (change.changed && !WriteProxyOverride(JoinLines(change.entries, L";"))) {
        return kProxyOverrideUnwritable;
    }
    WriteProxyBypassRecord({});
    return change.changed ? L"已移除系统代理旁路：" + JoinLines(change.affected, L";") : std::wstring{};
}

}  // namespace ostrevane
