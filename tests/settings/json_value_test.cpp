#include "settings/json_value.h"
#include "settings/json_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrevane {
namespace {

TEST(JsonValueAlternatives, FollowTheContractOrder) {
    EXPECT_EQ(JsonValue{}.index(), 0u);
    EXPECT_EQ(ParseJsonDocument(L"null").index(), 0u);
    EXPECT_EQ(ParseJsonDocument(L"true").index(), 1u);
    EXPECT_EQ(ParseJsonDocument(L"1").index(), 2u);
    EXPECT_EQ(ParseJsonDocument(L"\"s\"").index(), 3u);
    EXPECT_EQ(ParseJsonDocument(L"{}").index(), 4u);
    EXPECT_EQ(ParseJsonDocument(L"[]").index(), 5u);
}

TEST(JsonValueSemantics, CopiesAreDeepAndIndependent) {
    JsonValue original = ParseJsonDocument(L"{\"list\":[{\"name\":\"a\"}],\"n\":1}");
    JsonValue copy = original;
    auto& list = std::get<JsonArray>(std::get<JsonObject>(copy).at(L"list"));
    std::get<JsonObject>(list[0])[L"name"] = std::wstring(L"changed");
    list.push_back(true);
    const auto& originalList = *JsonFindAs<JsonArray>(original, L"list");
    ASSERT_EQ(originalList.size(), 1u);
    EXPECT_EQ(*JsonFindAs<std::wstring>(originalList[0], L"name"), L"a");
    EXPECT_NE(copy, original);

    JsonValue moved = std::move(copy);
    EXPECT_EQ(std::get<JsonArray>(*JsonFind(moved, L"list")).size(), 2u);
}

TEST(JsonFind, ReturnsTheMemberOfAnObjectOnly) {
    const JsonValue object = ParseJsonDocument(L"{\"a\":\"x\",\"b\":null}");
    const JsonValue* a = JsonFind(object, L"a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::get<std::wstring>(*a), L"x");
    EXPECT_EQ(a, &std::get<JsonObject>(object).at(L"a"));
    ASSERT_NE(JsonFind(object, L"b"), nullptr);
    EXPECT_EQ(JsonFind(object, L"b")->index(), 0u);
    EXPECT_EQ(JsonFind(object, L"c"), nullptr);
    EXPECT_EQ(JsonFind(object, L"A"), nullptr);
    EXPECT_EQ(std::get<JsonObject>(object).size(), 2u);  // look-ups never insert

    for (const wchar_t* other : {L"[\"a\"]", L"\"a\"", L"null", L"1", L"true"}) {
        EXPECT_EQ(JsonFind(ParseJsonDocument(other), L"a"), nullptr) << other;
    }
}

TEST(JsonFind, TypedLookUpsMakeNoConversions) {
    const JsonValue object = ParseJsonDocument(L"{\"n\":5,\"t\":\"true\",\"b\":false,\"s\":\"5\"}");
    EXPECT_EQ(JsonFindAs<std::wstring>(object, L"n"), nullptr);
    EXPECT_EQ(JsonFindAs<bool>(object, L"t"), nullptr);
    EXPECT_EQ(JsonFindAs<double>(object, L"s"), nullptr);
    ASSERT_NE(JsonFindAs<bool>(object, L"b"), nullptr);
    EXPECT_FALSE(*JsonFindAs<bool>(object, L"b"));
    EXPECT_EQ(*JsonFindAs<double>(object, L"n"), 5.0);
    EXPECT_EQ(JsonFindAs<JsonArray>(object, L"missing"), nullptr);
}

TEST(JsonEscape, EscapesExactlyFiveCharacters) {
    EXPECT_EQ(JsonEscape(L"\t\"\\\u4E2D"), L"\\t\\\"\\\\\u4E2D");
    EXPECT_EQ(JsonEscape(L"a\r\nb"), L"a\\r\\nb");
    const std::wstring raw(L"/\x01\b\f\x1F\x7F\0\uFFFF", 8);
    EXPECT_EQ(JsonEscape(raw), raw);
    EXPECT_EQ(JsonEscape(L""), L"");
}

TEST(JsonEscape, QuoteWrapsTheEscapedText) {
    EXPECT_EQ(JsonQuote(L"a\"b"), L"\"a\\\"b\"");
    EXPECT_EQ(JsonQuote(L""), L"\"\"");
}

TEST(JsonEscape, EveryCodeUnitReadsBackUnchanged) {
    std::wstring all;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        all.push_back(static_cast<wchar_t>(unit));
    }
    EXPECT_EQ(std::get<std::wstring>(ParseJsonDocument(JsonQuote(all))), all);
    EXPECT_EQ(JsonEscape(all).find(L"\\u"), std::wstring::npos);
}

}  // namespace
}  // namespace ostrevane
