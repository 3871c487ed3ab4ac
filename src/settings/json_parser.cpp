#include "settings/json_parser.h"

#include <cwchar>
#include <cwctype>
#include <stdexcept>
#include <utility>

namespace ostrevane {
namespace {

[[noreturn]] void ThrowInvalidJson() {
    throw std::runtime_error("Invalid JSON.");
}

[[noreturn]] void ThrowInvalidString() {
    throw std::runtime_error("Invalid JSON string.");
}

bool IsNumberUnit(wchar_t c) {
    return std::iswdigit(static_cast<std::wint_t>(c)) || c == L'+' || c == L'-' || c == L'.' || c == L'E' ||
           c == L'e';
}

// Counts one open container for as long as it is being read.
class DepthGuard {
public:
    explicit DepthGuard(int& depth) : depth_(depth) {
        if (depth_ >= kMaxJsonDepth) {
            ThrowInvalidJson();
        }
        ++depth_;
    }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    ~DepthGuard() { --depth_; }

private:
    int& depth_;
};

}  // namespace

JsonParser::JsonParser(std::wstring text) : text_(std::move(text)) {}

void JsonParser::SkipWhitespace() {
    while (!AtEnd() && std::iswspace(static_cast<std::wint_t>(text_[cursor_]))) {
        ++cursor_;
    }
}

void JsonParser::Expect(wchar_t expected) {
    SkipWhitespace();
    if (!Peek(expected)) {
        ThrowInvalidJson();
    }
    ++cursor_;
}

bool JsonParser::MatchLiteral(std::wstring_view literal) {
    if (text_.size() - cursor_ < literal.size() || std::wstring_view(text_).substr(cursor_, literal.size()) != literal) {
        return false;
    }
    cursor_ += literal.size();
    return true;
}

JsonValue JsonParser::ParseValue() {
    SkipWhitespace();
    if (MatchLiteral(L"null")) {
        return nullptr;
    }
    if (MatchLiteral(L"true")) {
        return true;
    }
    if (MatchLiteral(L"false")) {
        return false;
    }
    if (Peek(L'"')) {
        return ParseString();
    }
    if (Peek(L'{')) {
        DepthGuard guard(depth_);
        return ParseObject();
    }
    if (Peek(L'[')) {
        DepthGuard guard(depth_);
        return ParseArray();
    }
    return ParseNumber();
}

std::wstring JsonParser::ParseString() {
    Expect(L'"');
    std::wstring out;
    for (;;) {
        if (AtEnd()) {
            ThrowInvalidString();
        }
        const wchar_t c = text_[cursor_++];
        if (c == L'"') {
            return out;
        }
        if (c != L'\\') {
            out.push_back(c);
            continue;
        }
        if (AtEnd()) {
            ThrowInvalidString();
        }
        const wchar_t e = text_[cursor_++];
        switch (e) {
        case L'b':
            out.push_back(L'\b');
            break;
        case L'f':
            out.push_back(L'\f');
            break;
        case L'n':
            out.push_back(L'\n');
            break;
        case L'r':
            out.push_back(L'\r');
            break;
        case L't':
            out.push_back(L'\t');
            break;
        case L'u':
            AppendUnicodeEscape(out);
            break;
        default:  // quote, slash, backslash, and any unknown escape: the character itself
            out.push_back(e);
            break;
        }
    }
}

// Four code units read with wcstoul's rules (longest hexadecimal prefix, 0 when none), low 16
// bits kept. With fewer than four units left the escape yields nothing and reading goes on.
void JsonParser::AppendUnicodeEscape(std::wstring& out) {
    if (text_.size() - cursor_ < 4) {
        return;
    }
    const std::wstring digits = text_.substr(cursor_, 4);
    cursor_ += 4;
    const unsigned long value = std::wcstoul(digits.c_str(), nullptr, 16);
    out.push_back(static_cast<wchar_t>(value & 0xFFFFu));
}

JsonObject JsonParser::ParseObject() {
    Expect(L'{');
    JsonObject object;
    SkipWhitespace();
    if (Peek(L'}')) {
        ++cursor_;
        return object;
    }
    for (;;) {
        std::wstring key = ParseString();
        Expect(L':');
        object.insert_or_assign(std::move(key), ParseValue());
        SkipWhitespace();
        if (Peek(L'}')) {
            ++cursor_;
            return object;
        }
        Expect(L',');
    }
}

JsonArray JsonParser::ParseArray() {
    Expect(L'[');
    JsonArray array;
    SkipWhitespace();
    if (Peek(L']')) {
        ++cursor_;
        return array;
    }
    for (;;) {
        array.push_back(ParseValue());
        SkipWhitespace();
        if (Peek(L']')) {
            ++cursor_;
            return array;
        }
        if (!Peek(L',')) {
            ThrowInvalidJson();
        }
        ++cursor_;
    }
}

// The longest run of number characters is the token; wcstod converts its longest valid prefix
// and the rest of the token is dropped. An empty token is the number 0.
double JsonParser::ParseNumber() {
    const std::size_t start = cursor_;
    while (!AtEnd() && IsNumberUnit(text_[cursor_])) {
        ++cursor_;
    }
    if (cursor_ == start) {
        return 0.0;
    }
    const std::wstring token = text_.substr(start, cursor_ - start);
    return std::wcstod(token.c_str(), nullptr);
}

JsonValue ParseJsonDocument(std::wstring text) {
    JsonParser parser(std::move(text));
    parser.SkipWhitespace();
    JsonValue value = parser.ParseValue();
    parser.SkipWhitespace();
    return value;
}

}  // namespace ostrevane
