#include "control/registry_text.h"

#include "platform/unique_handle.h"

namespace ostrevane {
namespace {

constexpr int kReadAttempts = 4;  // the value may grow between the size query and the read

RegistryText Unreadable() { return {RegistryTextState::Unreadable, {}}; }

RegistryText FromData(std::wstring data) {
    while (!data.empty() && data.back() == L'\0') {
        data.pop_back();
    }
    if (data.find(L'\0') != std::wstring::npos) {
        return Unreadable();
    }
    return {RegistryTextState::Text, std::move(data)};
}

}  // namespace

RegistryText ReadRegistryText(HKEY root, const wchar_t* subKey, const wchar_t* name) {
    UniqueRegistryKey key;
    const LSTATUS opened = RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    if (opened != ERROR_SUCCESS) {
        return Unreadable();
    }
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        const LSTATUS queried = RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size);
        if (queried == ERROR_FILE_NOT_FOUND) {
            return {};
        }
        if (queried != ERROR_SUCCESS || type != REG_SZ) {
            return Unreadable();
        }
        // Room for one more character than announced, so a value that grows is noticed.
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        DWORD readSize = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        const LSTATUS read =
            RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &readSize);
        if (read == ERROR_MORE_DATA) {
            continue;
        }
        if (read == ERROR_FILE_NOT_FOUND) {
            return {};
        }
        if (read != ERROR_SUCCESS || type != REG_SZ || readSize % sizeof(wchar_t) != 0) {
            return Unreadable();
        }
        data.resize(readSize / sizeof(wchar_t));
        return FromData(std::move(data));
    }
    return Unreadable();
}

bool WriteRegistryText(HKEY root, const wchar_t* subKey, const wchar_t* name, const std::wstring& text) {
    UniqueRegistryKey key;
    if (RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool DeleteRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name) {
    UniqueRegistryKey key;
    const LSTATUS opened = RegOpenKeyExW(root, subKey, 0, KEY_SET_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (opened != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS deleted = RegDeleteValueW(key.get(), name);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

}  // namespace ostrevane
