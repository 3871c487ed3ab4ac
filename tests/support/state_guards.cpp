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

ProxyOverrideGuard::ProxyOverrideGuard(const std::wstring& startValue) : original_(ReadProxyOverride()) {
    WriteProxyOverride(startValue);
}

ProxyOverrideGuard::~ProxyOverrideGuard() { WriteProxyOverride(original_); }

}  // namespace ostrevane::testing
