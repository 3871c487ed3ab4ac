// Inputs no one would write: the parser must either return a value or throw one of its two
// errors, and never crash, hang or recurse without end. Fixed seeds, bounded counts.
#include "settings/json_parser.h"
#include "settings/text_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

namespace ostrevane {
namespace {

// 0 when the text parsed, 1 for "Invalid JSON.", 2 for "Invalid JSON string.".
int Outcome(const std::wstring& text) {
    try {
        ParseJsonDocument(text);
        return 0;
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        if (message == "Invalid JSON.") {
            return 1;
        }
        if (message == "Invalid JSON string.") {
            return 2;
        }
        ADD_FAILURE() << "unexpected error text: " << message;
        return -1;
    }
}

TEST(JsonParserFuzz, RandomBytesParseOrFailCleanly) {
    std::mt19937 random(7301);
    int outcomes[3] = {};
    for (int round = 0; round < 4000; ++round) {
        std::string bytes(random() % 96, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random() & 0xFF);
        }
        const int outcome = Outcome(Utf8ToWide(bytes));
        ASSERT_GE(outcome, 0);
        ++outcomes[outcome];
    }
    EXPECT_GT(outcomes[0], 0);
}

TEST(JsonParserFuzz, JsonLikeTextReachesEveryOutcome) {
    static const wchar_t kAlphabet[] = L"{}[]{}[]\"\"\"::,,,\\\\ubnrtfq/0123456789abcdefABCDEF+-.eE \t\r\nnulltruefalse\u4E2D";
    const std::size_t alphabetSize = sizeof kAlphabet / sizeof kAlphabet[0] - 1;
    std::mt19937 random(1602);
    int outcomes[3] = {};
    for (int round = 0; round < 20000; ++round) {
        std::wstring text(random() % 64, L' ');
        for (wchar_t& c : text) {
            c = kAlphabet[random() % alphabetSize];
        }
        const int outcome = Outcome(text);
        ASSERT_GE(outcome, 0) << "round " << round;
        ++outcomes[outcome];
    }
    EXPECT_GT(outcomes[0], 0);
    EXPECT_GT(outcomes[1], 0);
    EXPECT_GT(outcomes[2], 0);
}

TEST(JsonParserFuzz, MutatedDocumentsParseOrFailCleanly) {
    const std::wstring seed =
        L"{\"serverUrl\": \"http://10.0.0.5:8080\",\"list\": [1, -2.5e3, true, false, null, \"\\u4E2D\\n\"],"
        L"\"siteProfiles\": [{\"name\":\"A\",\"sharedNetworks\":[\"10.1.0.0/16\"]}], \"o\": {\"p\": {}}}";
    std::mt19937 random(4410);
    for (int round = 0; round < 20000; ++round) {
        std::wstring text = seed;
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int edit = 0; edit < edits && !text.empty(); ++edit) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
            case 0:
                text.erase(at, 1 + random() % 4);
                break;
            case 1:
                text.insert(at, 1, static_cast<wchar_t>(random() % 0x80));
                break;
            default:
                text[at] = static_cast<wchar_t>(random() % 0x10000);
                break;
            }
        }
        ASSERT_GE(Outcome(text), 0) << "round " << round;
    }
}

TEST(JsonParserFuzz, HugeStringsAndNumbersAreRead) {
    const std::wstring huge(8u << 20, L'\u4E2D');
    EXPECT_EQ(std::get<std::wstring>(ParseJsonDocument(L"\"" + huge + L"\"")), huge);

    std::wstring escaped;
    for (int i = 0; i < 200000; ++i) {
        escaped += L"\\u0041\\n";
    }
    const JsonValue array = ParseJsonDocument(L"[\"" + escaped + L"\"]");
    const std::wstring& decoded = std::get<std::wstring>(std::get<JsonArray>(array).at(0));
    EXPECT_EQ(decoded.size(), 400000u);
    EXPECT_EQ(decoded.substr(0, 4), L"A\nA\n");

    EXPECT_TRUE(std::isinf(std::get<double>(ParseJsonDocument(std::wstring(1000000, L'9')))));
    EXPECT_EQ(std::get<double>(ParseJsonDocument(L"0." + std::wstring(1000000, L'0') + L"1")), 0.0);
    EXPECT_EQ(Outcome(L"\"" + huge), 2);
}

}  // namespace
}  // namespace ostrevane
