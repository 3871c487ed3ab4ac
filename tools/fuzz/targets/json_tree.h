// A complete writer for parsed JSON trees, built only on the client's own escaping, and a
// structural comparison: reading what was written must give the same tree back.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <variant>

#include "settings/json_parser.h"
#include "settings/json_value.h"

namespace ostrevane::fuzz {

inline std::wstring NumberText(double number) {
    if (std::isinf(number)) {
        return number > 0 ? L"1e999" : L"-1e999";  // read back as infinity by wcstod
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%.17g", number);
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

inline std::wstring WriteJson(const JsonValue& value) {
    switch (value.index()) {
        case 0:
            return L"null";
        case 1:
            return std::get<bool>(value) ? L"true" : L"false";
        case 2:
            return NumberText(std::get<double>(value));
        case 3:
            return JsonQuote(std::get<std::wstring>(value));
        case 4: {
            std::wstring text = L"{";
            for (const auto& [key, member] : std::get<JsonObject>(value)) {
                text += text.size() > 1 ? L"," : L"";
                text += JsonQuote(key) + L":" + WriteJson(member);
            }
            return text + L"}";
        }
        default: {
            std::wstring text = L"[";
            for (const JsonValue& element : std::get<JsonArray>(value)) {
                text += text.size() > 1 ? L"," : L"";
                text += WriteJson(element);
            }
            return text + L"]";
        }
    }
}

// Equal trees; numbers compare as numbers (a NaN never comes out of the parser).
inline bool SameJson(const JsonValue& a, const JsonValue& b) {
    if (a.index() != b.index()) {
        return false;
    }
    switch (a.index()) {
        case 0:
            return true;
        case 1:
            return std::get<bool>(a) == std::get<bool>(b);
        case 2:
            return std::get<double>(a) == std::get<double>(b);
        case 3:
            return std::get<std::wstring>(a) == std::get<std::wstring>(b);
        case 4: {
            const JsonObject& x = std::get<JsonObject>(a);
            const JsonObject& y = std::get<JsonObject>(b);
            if (x.size() != y.size()) {
                return false;
            }
            for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
                if (i->first != j->first || !SameJson(i->second, j->second)) {
                    return false;
                }
            }
            return true;
        }
        default: {
            const JsonArray& x = std::get<JsonArray>(a);
            const JsonArray& y = std::get<JsonArray>(b);
            if (x.size() != y.size()) {
                return false;
            }
            for (std::size_t i = 0; i < x.size(); ++i) {
                if (!SameJson(x[i], y[i])) {
                    return false;
                }
            }
            return true;
        }
    }
}

// True for the parser's own two error texts, the only failures it may raise.
inline bool IsParserError(const std::exception& error) {
    const std::string text = error.what();
    return text == "Invalid JSON." || text == "Invalid JSON string.";
}

}  // namespace ostrevane::fuzz
