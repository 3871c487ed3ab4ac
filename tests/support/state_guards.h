// Guards for the machine state that operations under test really change in the Wine prefix: the
// settings file and the user's ProxyOverride value. Each puts back what it found.
#pragma once

#include <optional>
#include <string>

namespace ostrevane::testing {

class SettingsFileGuard {
public:
    SettingsFileGuard();  // remembers the file (or its absence) and removes it: tests start without one
    ~SettingsFileGuard();
    SettingsFileGuard(const SettingsFileGuard&) = delete;
    SettingsFileGuard& operator=(const SettingsFileGuard&) = delete;

private:
    std::wstring path_;
    std::optional<std::string> original_;
};

class ProxyOverrideGuard {
public:
    explicit ProxyOverrideGuard(const std::wstring& startValue = L"");  // remembers the value, then sets startValue
    ~ProxyOverrideGuard();
    ProxyOverrideGuard(const ProxyOverrideGuard&) = delete;
    ProxyOverrideGuard& operator=(const ProxyOverrideGuard&) = delete;

private:
    std::wstring original_;
};

}  // namespace ostrevane::testing
