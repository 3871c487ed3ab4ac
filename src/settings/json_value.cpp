#include "settings/json_value.h"

namespace ostrevane {

const JsonValue* JsonFind(const JsonValue& value, const std::wstring& key) {
    const auto* object = std::get_if<JsonObject>(&value);
    if (object == nullptr) {
        return nullptr;
    }
    const auto member = object->find(key);
    return member == object->end() ? nullptr : &member->second;
}

std::wstring JsonEscape(const std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size() + 8);
    for (wchar_t c : text) {
        switch (c) {
        case L'\t':
            escaped += L"\\t";
            break;
        case L'\n':
            escaped += L"\\n";
            break;
        case L'\r':
            escaped += L"\\r";
            break;
        case L'"':
            escaped += L"\\\"";
            break;
        case L'\\':
            escaped += L"\\\\";
            break;
        default:
            escaped.push_back(c);
            break;
        }
    }
    return escaped;
}

std::wstring JsonQuote(const std::wstring& text) {
    return L'"' + JsonEscape(text) + L'"';
}

}  // namespace ostrevane
