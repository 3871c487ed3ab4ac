#include "support/state_guards.h"

#include <windows.h>

#include "control/proxy_bypass.h"
#include "settings/settings_file.h"
#include "support/test_files.h"

namespace ostrevane::testing {

SettingsFileGuard::SettingsFileGuard() : path_(SettingsFilePath()), original_(ReadFileBytes(path_)) {
    DeleteFileW(path_.c_str());
}

SettingsFileGuard::~SettingsFileGuard() {
    if (original_) {
        WriteFileBytes(path_, *original_);
    } else {
        DeleteFileW(path_.c_str());
    }
}

namespace {

// Only text is put back; a prefix never holds ProxyOverride of another type unless a test made it.
std::optional<std::wstring> SavedText(const RegistryText& value) {
    return value.state == RegistryTextState::Text ? std::optional<std::wstring>(value.text) : std::nullopt;
}

void Restore(const wchar_t* subKey, const wchar_t* name, const std::optional<std::wstring>& text) {
    if (text) {
        WriteRegistryText(HKEY_CURRENT_USER, subKey, name, *text);
    } else {
        DeleteRegistryValue(HKEY_CURRENT_USER, subKey, name);
    }
}

}  // namespace

ProxyOverrideGuard::ProxyOverrideGuard(const std::wstring& startValue)
    : original_(SavedText(ReadProxyOverrideValue())),
      record_(SavedText(ReadRegistryText(HKEY_CURRENT_USER, kClientRegistryKey, kProxyBypassRecordValue))) {
    WriteProxyOverride(startValue);
    DeleteRegistryValue(HKEY_CURRENT_USER, kClientRegistryKey, kProxyBypassRecordValue);
}

ProxyOverrideGuard::~ProxyOverrideGuard() {
    Restore(kInternetSettingsKey, L"ProxyOverride", original_);
    Restore(kClientRegistryKey, kProxyBypassRecordValue, record_);
}

}  // namespace ostrevane::testing
