// One REG_SZ value of the registry read and written as text, telling an absent value apart from
// one that cannot be taken as text: a list rewritten from a misread value would lose the user's
// entries.
#pragma once

#include <windows.h>

#include <string>

namespace ostrevane {

enum class RegistryTextState {
    Absent,      // neither the key nor the value exists
    Text,        // a REG_SZ value, read whole
    Unreadable,  // another type, embedded NUL characters, or the read failed
};

struct RegistryText {
    RegistryTextState state = RegistryTextState::Absent;
    std::wstring text;  // trailing NUL characters dropped; empty unless state is Text
};

RegistryText ReadRegistryText(HKEY root, const wchar_t* subKey, const wchar_t* name);

// Creates the key when needed and writes the text as REG_SZ with its terminating NUL.
bool WriteRegistryText(HKEY root, const wchar_t* subKey, const wchar_t* name, const std::wstring& text);

// True also when there was nothing to delete.
bool DeleteRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name);

}  // namespace ostrevane
