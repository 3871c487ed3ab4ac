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

std::wstring JsonStringOr(const JsonValue& value, const std::wstring& key, const std::wstring& fallback) {
    const std::wstring* text = JsonFindAs<std::wstring>(value, key);
    return text != nullptr ? *text : fallback;
}

std::vector<std::wstring> JsonStringElements(const JsonValue& value, const std::wstring& key) {
    std::vector<std::wstring> items;
    if (const JsonArray* array = JsonFindAs<JsonArray>(value, key)) {
        for (const JsonValue& element : *array) {
            if (const auto* text = std::get_if<std::wstring>(&element)) {
                items.push_back(*text);
            }
        }
    }
    return items;
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
