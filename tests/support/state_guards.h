// Guards for the machine state that operations under test really change in the Wine prefix: the
// settings file, the user's ProxyOverride value and the client's record of the entries it added.
// Each puts back what it found.
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

// Remembers ProxyOverride and the record, then sets ProxyOverride to startValue and clears the
// record, so that no test depends on what an earlier run left in the prefix.
class ProxyOverrideGuard {
public:
    explicit ProxyOverrideGuard(const std::wstring& startValue = L"");
    ~ProxyOverrideGuard();
    ProxyOverrideGuard(const ProxyOverrideGuard&) = delete;
    ProxyOverrideGuard& operator=(const ProxyOverrideGuard&) = delete;

private:
    std::optional<std::wstring> original_;  // none: the value was absent
    std::optional<std::wstring> record_;
};

}  // namespace ostrevane::testing
