// The one JSON value type of the client, with member look-up and the escaping that every
// hand-written JSON text goes through. No Win32 here: the readers also build natively.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace ostrevane {

struct JsonValue;

// Keys sorted by plain UTF-16 code-unit order; a repeated key keeps the later value.
using JsonObject = std::map<std::wstring, JsonValue>;
using JsonArray = std::vector<JsonValue>;

// The alternative index is part of the contract: null, boolean, number, string, object, array.
using JsonVariant = std::variant<std::nullptr_t, bool, double, std::wstring, JsonObject, JsonArray>;

struct JsonValue : JsonVariant {
    using JsonVariant::JsonVariant;
    using JsonVariant::operator=;
};

// The member's value when `value` is an object holding `key`; nullptr otherwise. Never inserts.
const JsonValue* JsonFind(const JsonValue& value, const std::wstring& key);

// The member's payload when it exists and holds exactly the alternative T (no conversions).
template <typename T>
const T* JsonFindAs(const JsonValue& value, const std::wstring& key) {
    const JsonValue* member = JsonFind(value, key);
    return member == nullptr ? nullptr : std::get_if<T>(member);
}

// The member's text; the fallback when it is missing or not a string.
std::wstring JsonStringOr(const JsonValue& value, const std::wstring& key, const std::wstring& fallback = {});

// The string elements of the member's array in order, other elements skipped; none without the array.
std::vector<std::wstring> JsonStringElements(const JsonValue& value, const std::wstring& key);

// Tab, line feed, carriage return, quote and backslash escaped; everything else raw.
std::wstring JsonEscape(const std::wstring& text);

// The escaped text between double quotation marks.
std::wstring JsonQuote(const std::wstring& text);

}  // namespace ostrevane
