#include "remote_desktop/toml_string.h"

#include <algorithm>
#include <cwchar>

namespace ostrevane {
namespace {

// TOML allows no control character but tab in either kind of string, and DEL counts as one.
bool IsControl(wchar_t c) { return (c < 0x20 && c != L'\t') || c == 0x7F; }

bool FitsLiteralString(const std::wstring& text) {
    return std::none_of(text.begin(), text.end(), [](wchar_t c) { return c == L'\'' || IsControl(c); });
}

void AppendEscaped(std::wstring& out, wchar_t c) {
    switch (c) {
    case L'"': out += L"\\\""; return;
    case L'\\': out += L"\\\\"; return;
    case L'\b': out += L"\\b"; return;
    case L'\t': out += L"\\t"; return;
    case L'\n': out += L"\\n"; return;
    case L'\f': out += L"\\f"; return;
    case L'\r': out += L"\\r"; return;
    default: break;
    }
    if (IsControl(c)) {
        wchar_t code[7] = {};
        std::swprintf(code, 7, L"\\u%04X", static_cast<unsigned>(c));
        out += code;
    } else {
        out.push_back(c);
    }
}

}  // namespace

std::wstring EscapeTomlText(const std::wstring& text) {
    if (FitsLiteralString(text)) {
        return L'\'' + text + L'\'';
    }
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        AppendEscaped(quoted, c);
    }
    quoted += L'"';
    return quoted;
}

}  // namespace ostrevane
