#include "settings/json_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

namespace ostrevane {
namespace {

// The parse result and where the parser stopped.
struct Parsed {
    JsonValue value;
    std::size_t position;
};

Parsed ParseOne(const std::wstring& text) {
    JsonParser parser(text);
    JsonValue value = parser.ParseValue();
    return {std::move(value), parser.Position()};
}

double NumberOf(const std::wstring& text) {
    const JsonValue value = ParseJsonDocument(text);
    EXPECT_TRUE(std::holds_alternative<double>(value)) << "index " << value.index();
    return std::holds_alternative<double>(value) ? std::get<double>(value) : std::nan("");
}

std::wstring StringOf(const std::wstring& text) {
    const JsonValue value = ParseJsonDocument(text);
    EXPECT_TRUE(std::holds_alternative<std::wstring>(value)) << "index " << value.index();
    return std::holds_alternative<std::wstring>(value) ? std::get<std::wstring>(value) : L"<not a string>";
}

// The message of the runtime_error that parsing `text` throws, or "" when it does not throw.
std::string ErrorOf(const std::wstring& text) {
    try {
        ParseJsonDocument(text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

const std::string kInvalidJson = "Invalid JSON.";
const std::string kInvalidString = "Invalid JSON string.";

TEST(JsonParserLiterals, ConsumeOnlyTheLiteralItself) {
    const Parsed null = ParseOne(L"nullx");
    EXPECT_TRUE(std::holds_alternative<std::nullptr_t>(null.value));
    EXPECT_EQ(null.position, 4u);
    EXPECT_EQ(std::get<bool>(ParseOne(L"  true,").value), true);
    EXPECT_EQ(ParseOne(L"  true,").position, 6u);
    EXPECT_EQ(std::get<bool>(ParseOne(L"false").value), false);
}

TEST(JsonParserLiterals, APartialLiteralIsAnEmptyNumber) {
    const Parsed partial = ParseOne(L"nul");
    EXPECT_EQ(std::get<double>(partial.value), 0.0);
    EXPECT_EQ(partial.position, 0u);
    EXPECT_EQ(std::get<double>(ParseOne(L"True").value), 0.0);
}

TEST(JsonParserMatchLiteral, ComparesTheWholeLiteralOrLeavesTheCursor) {
    JsonParser parser(L"tru");
    EXPECT_FALSE(parser.MatchLiteral(L"true"));
    EXPECT_EQ(parser.Position(), 0u);
    EXPECT_TRUE(parser.MatchLiteral(L"tr"));
    EXPECT_EQ(parser.Position(), 2u);
    EXPECT_TRUE(parser.MatchLiteral(L"u"));
    EXPECT_FALSE(parser.MatchLiteral(L"x"));
    EXPECT_TRUE(parser.MatchLiteral(L""));
}

TEST(JsonParserExpect, SkipsWhiteSpaceAndRequiresTheCharacter) {
    JsonParser parser(L" \t\r\n:;");
    parser.Expect(L':');
    EXPECT_EQ(parser.Position(), 5u);
    EXPECT_THROW(parser.Expect(L':'), std::runtime_error);
    JsonParser empty(L"   ");
    try {
        empty.Expect(L',');
        FAIL() << "no exception at the end of the text";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(error.what(), kInvalidJson);
    }
}

TEST(JsonParserNumbers, ConvertTheLongestValidPrefixOfTheToken) {
    EXPECT_EQ(NumberOf(L"42"), 42.0);
    EXPECT_EQ(NumberOf(L"-12.5e2"), -1250.0);
    EXPECT_EQ(NumberOf(L"+3"), 3.0);
    EXPECT_EQ(NumberOf(L"1E+2"), 100.0);
    EXPECT_EQ(NumberOf(L"1.2.3"), 1.2);
    EXPECT_EQ(NumberOf(L"--5"), 0.0);
    EXPECT_EQ(NumberOf(L"1e"), 1.0);
    EXPECT_EQ(NumberOf(L"."), 0.0);
    EXPECT_TRUE(std::isinf(NumberOf(L"1e999")));
}

TEST(JsonParserNumbers, TheTokenEndsAtTheFirstOtherCharacter) {
    // wcstod on the raw text would read 0x10 as sixteen; the token is only "0".
    const Parsed hex = ParseOne(L"0x10");
    EXPECT_EQ(std::get<double>(hex.value), 0.0);
    EXPECT_EQ(hex.position, 1u);
    const Parsed word = ParseOne(L"12abc");
    EXPECT_EQ(std::get<double>(word.value), 12.0);
    EXPECT_EQ(word.position, 2u);
    const Parsed discarded = ParseOne(L"1.2.3 ");
    EXPECT_EQ(discarded.position, 5u);
}

TEST(JsonParserNumbers, EmptyTokenIsZeroAndConsumesNothing) {
    EXPECT_EQ(NumberOf(L""), 0.0);
    EXPECT_EQ(NumberOf(L" \t\r\n "), 0.0);
    const Parsed other = ParseOne(L"  @");
    EXPECT_EQ(std::get<double>(other.value), 0.0);
    EXPECT_EQ(other.position, 2u);
}

TEST(JsonParserStrings, DecodeTheNamedEscapes) {
    EXPECT_EQ(StringOf(LR"("a\"b\\c\/d\b\f\n\r\t")"), L"a\"b\\c/d\b\f\n\r\t");
}

TEST(JsonParserStrings, UnknownEscapesDropTheirBackslash) {
    EXPECT_EQ(StringOf(LR"("\q\x\ \中")"), L"qx 中");
}

TEST(JsonParserStrings, UnicodeEscapesTakeFourUnitsAsHexadecimal) {
    EXPECT_EQ(StringOf(LR"("\u0041")"), L"A");
    EXPECT_EQ(StringOf(LR"("\u4e2D!")"), L"中!");
    const std::wstring pair = StringOf(LR"("\uD83D\uDE00")");
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(pair[0], static_cast<wchar_t>(0xD83D));
    EXPECT_EQ(pair[1], static_cast<wchar_t>(0xDE00));
    EXPECT_EQ(StringOf(LR"("\uDC00")"), std::wstring(1, static_cast<wchar_t>(0xDC00)));
}

TEST(JsonParserStrings, UnicodeEscapesFollowTheUnsignedConversion) {
    EXPECT_EQ(StringOf(LR"("\u41zzB")"), L"AB");                                      // longest prefix "41"
    EXPECT_EQ(StringOf(LR"("\uzzzzB")"), std::wstring(L"\0B", 2));                    // no digits: 0
    EXPECT_EQ(StringOf(LR"("\u0x4fB")"), L"OB");                                      // 0x prefix accepted
    EXPECT_EQ(StringOf(LR"("\u-001")"), std::wstring(1, static_cast<wchar_t>(0xFFFF)));  // low 16 bits of -1
}

TEST(JsonParserStrings, AShortUnicodeEscapeProducesNothing) {
    EXPECT_EQ(StringOf(LR"("\u41")"), L"41");
    EXPECT_EQ(StringOf(LR"("\u")"), L"");
}

TEST(JsonParserStrings, RawControlCharactersAndLineBreaksAreKept) {
    const std::wstring raw = std::wstring(L"\"a\0b\r\n\t\x01\x1F\"", 10);
    EXPECT_EQ(StringOf(raw), std::wstring(L"a\0b\r\n\t\x01\x1F", 8));
}

TEST(JsonParserStrings, UnterminatedStringsThrowTheStringError) {
    EXPECT_EQ(ErrorOf(L"\"abc"), kInvalidString);
    EXPECT_EQ(ErrorOf(L"\"abc\\"), kInvalidString);
    EXPECT_EQ(ErrorOf(L"\"abc\\\""), kInvalidString);
    EXPECT_EQ(ErrorOf(L"{\"key"), kInvalidString);
}

TEST(JsonParserObjects, KeysAreSortedAndTheLaterDuplicateWins) {
    const JsonValue value = ParseJsonDocument(L"{\"b\": 1, \"a\": true, \"a\": false}   trailing words");
    const auto& object = std::get<JsonObject>(value);
    ASSERT_EQ(object.size(), 2u);
    auto member = object.begin();
    EXPECT_EQ(member->first, L"a");
    EXPECT_EQ(std::get<bool>(member->second), false);
    ++member;
    EXPECT_EQ(member->first, L"b");
    EXPECT_EQ(std::get<double>(member->second), 1.0);
}

TEST(JsonParserObjects, KeysSortByUtf16CodeUnits) {
    // U+1F600 is stored as D83D DE00 and so sorts before U+FF01, unlike in code point order.
    const JsonValue value = ParseJsonDocument(
        L"{\"b\":0,\"\uFF01\":0,\"ab\":0,\"\U0001F600\":0,\"B\":0,\"a\":0,\"\u4E2D\":0,\"\u00E9\":0,\"\":0}");
    std::vector<std::wstring> keys;
    for (const auto& member : std::get<JsonObject>(value)) {
        keys.push_back(member.first);
    }
    const std::vector<std::wstring> expected = {L"", L"B", L"a", L"ab", L"b", L"\u00E9", L"\u4E2D", L"\U0001F600", L"\uFF01"};
    EXPECT_EQ(keys, expected);
}

TEST(JsonParserObjects, AMissingMemberValueIsZero) {
    const JsonValue value = ParseJsonDocument(L"{\"a\":}");
    EXPECT_EQ(std::get<double>(*JsonFind(value, L"a")), 0.0);
    const JsonValue empty = ParseJsonDocument(L"{ \r\n }");
    EXPECT_TRUE(std::get<JsonObject>(empty).empty());
}

TEST(JsonParserObjects, StructuralFaultsThrowInvalidJson) {
    for (const wchar_t* text : {L"{", L"{a:1}", L"{\"a\" 1}", L"{\"a\":1 \"b\":2}", L"{\"a\":1,}", L"{\"a\":1",
                                L"{\"a\":1;\"b\":2}", L"{,}", L"{\"a\":[1}"}) {
        EXPECT_EQ(ErrorOf(text), kInvalidJson) << text;
    }
}

TEST(JsonParserArrays, KeepDocumentOrder) {
    const JsonValue value = ParseJsonDocument(L"[3, \"x\", null, [true], {}]");
    const auto& array = std::get<JsonArray>(value);
    ASSERT_EQ(array.size(), 5u);
    EXPECT_EQ(std::get<double>(array[0]), 3.0);
    EXPECT_EQ(std::get<std::wstring>(array[1]), L"x");
    EXPECT_EQ(array[2].index(), 0u);
    EXPECT_EQ(std::get<bool>(std::get<JsonArray>(array[3]).at(0)), true);
    EXPECT_EQ(array[4].index(), 4u);
}

TEST(JsonParserArrays, ATrailingCommaAddsAZero) {
    EXPECT_EQ(std::get<JsonArray>(ParseJsonDocument(L"[1,]")), (JsonArray{1.0, 0.0}));
    EXPECT_EQ(std::get<JsonArray>(ParseJsonDocument(L"[,]")), (JsonArray{0.0, 0.0}));
    EXPECT_TRUE(std::get<JsonArray>(ParseJsonDocument(L"[ \n ]")).empty());
}

TEST(JsonParserArrays, StructuralFaultsThrowInvalidJson) {
    EXPECT_EQ(ErrorOf(L"[1 2]"), kInvalidJson);
    EXPECT_EQ(ErrorOf(L"[\"complete\""), kInvalidJson);
    EXPECT_EQ(ErrorOf(L"["), kInvalidJson);
    EXPECT_EQ(ErrorOf(L"[1,"), kInvalidJson);
    EXPECT_EQ(ErrorOf(L"[1}"), kInvalidJson);
}

TEST(JsonParserDocument, TrailingContentIsIgnored) {
    const JsonValue value = ParseJsonDocument(L"  {\"a\":\"b\"} }}} [ garbage \"");
    EXPECT_EQ(*JsonFindAs<std::wstring>(value, L"a"), L"b");
    EXPECT_EQ(std::get<double>(ParseJsonDocument(L"7 8")), 7.0);
}

std::wstring Nested(int depth, const std::wstring& open, const std::wstring& inner, const std::wstring& close) {
    std::wstring text;
    for (int i = 0; i < depth; ++i) {
        text += open;
    }
    text += inner;
    for (int i = 0; i < depth; ++i) {
        text += close;
    }
    return text;
}

TEST(JsonParserDepth, AcceptsNestingUpToTheLimit) {
    JsonValue value = ParseJsonDocument(Nested(kMaxJsonDepth, L"[", L"", L"]"));
    int depth = 0;
    const JsonValue* level = &value;
    while (const auto* array = std::get_if<JsonArray>(level)) {
        ++depth;
        level = array->empty() ? nullptr : &array->front();
        if (level == nullptr) {
            break;
        }
    }
    EXPECT_EQ(depth, kMaxJsonDepth);
    EXPECT_NO_THROW(ParseJsonDocument(Nested(kMaxJsonDepth / 2, L"{\"k\":[", L"1", L"]}")));
}

TEST(JsonParserDepth, RefusesNestingBeyondTheLimit) {
    EXPECT_EQ(ErrorOf(Nested(kMaxJsonDepth + 1, L"[", L"", L"]")), kInvalidJson);
    EXPECT_EQ(ErrorOf(Nested(kMaxJsonDepth / 2 + 1, L"{\"k\":[", L"1", L"]}")), kInvalidJson);
    // Far deeper than any stack would take if recursion were unbounded.
    EXPECT_EQ(ErrorOf(std::wstring(1000000, L'[')), kInvalidJson);
    EXPECT_EQ(ErrorOf(Nested(200000, L"{\"a\":", L"", L"")), kInvalidJson);
}

TEST(JsonParserDepth, DepthIsCountedPerPathNotPerDocument) {
    // Many siblings at the limit must not add up.
    std::wstring text = L"[";
    for (int i = 0; i < 50; ++i) {
        text += (i > 0 ? L"," : L"") + Nested(kMaxJsonDepth - 1, L"[", L"0", L"]");
    }
    text += L"]";
    EXPECT_NO_THROW(ParseJsonDocument(text));
}

}  // namespace
}  // namespace ostrevane
