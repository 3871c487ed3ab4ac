// Recursive-descent reader of JSON text in UTF-16. Lenient where the client's files and the
// service's answers have always been read leniently (numbers, escapes, trailing text, raw
// control characters); strict about structure, with two fixed error texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "settings/json_value.h"

namespace ostrevane {

// Containers nested deeper than this are refused with "Invalid JSON." instead of
// running the recursion off the end of the stack.
inline constexpr int kMaxJsonDepth = 512;

class JsonParser {
public:
    explicit JsonParser(std::wstring text);

    // Steps over every code unit that iswspace accepts.
    void SkipWhitespace();

    // One value at the cursor (after white space). Throws std::runtime_error with
    // "Invalid JSON." or "Invalid JSON string.".
    JsonValue ParseValue();

    // Skips white space, then steps over `expected` or throws "Invalid JSON.".
    void Expect(wchar_t expected);

    // Steps over `literal` if the text at the cursor starts with it.
    bool MatchLiteral(std::wstring_view literal);

    // Index of the next unread code unit.
    std::size_t Position() const noexcept { return cursor_; }

private:
    bool AtEnd() const noexcept { return cursor_ >= text_.size(); }
    bool Peek(wchar_t c) const noexcept { return !AtEnd() && text_[cursor_] == c; }

    std::wstring ParseString();
    JsonObject ParseObject();
    JsonArray ParseArray();
    double ParseNumber();
    void AppendUnicodeEscape(std::wstring& out);

    std::wstring text_;
    std::size_t cursor_ = 0;
    int depth_ = 0;  // containers currently open
};

// Reads a document the way every caller does: white space, one value, white space;
// whatever follows is ignored.
JsonValue ParseJsonDocument(std::wstring text);

}  // namespace ostrevane
