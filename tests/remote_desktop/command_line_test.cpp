// Quoting of program arguments: the exact text for ordinary arguments, and a round trip
// through the system's own command-line parser for arguments that hold quotes and backslashes.
#include "remote_desktop/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <random>

namespace ostrevane {
namespace {

// What a program started with this parameter text sees as its arguments.
std::vector<std::wstring> ParsedBack(const std::wstring& parameters) {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW((L"program.exe " + parameters).c_str(), &count);
    std::vector<std::wstring> arguments;
    if (argv != nullptr) {
        for (int i = 1; i < count; ++i) {
            arguments.emplace_back(argv[i]);
        }
        LocalFree(argv);
    }
    return arguments;
}

TEST(BuildParameterText, OrdinaryArgumentsAreOnlyWrappedInQuotes) {
    EXPECT_EQ(BuildParameterText({L"--connect", L"318402775"}), L"\"--connect\" \"318402775\"");
    EXPECT_EQ(BuildParameterText({L"--connect", L"318 402 775"}), L"\"--connect\" \"318 402 775\"");
    EXPECT_EQ(BuildParameterText({L"--connect", L"站点-7"}), L"\"--connect\" \"站点-7\"");
    EXPECT_EQ(BuildParameterText({L"a\\b\\c"}), L"\"a\\b\\c\"");
}

TEST(BuildParameterText, NoArgumentsGiveNoText) {
    EXPECT_EQ(BuildParameterText({}), L"");
    EXPECT_EQ(BuildParameterText({L""}), L"\"\"");
}

TEST(QuoteArgument, QuotesAndTheBackslashesBeforeThemAreEscaped) {
    EXPECT_EQ(QuoteArgument(L"a\"b"), L"\"a\\\"b\"");
    EXPECT_EQ(QuoteArgument(L"a\\\"b"), L"\"a\\\\\\\"b\"");  // a\"b: two backslashes for one, one for the quote
    EXPECT_EQ(QuoteArgument(L"dir\\"), L"\"dir\\\\\"");       // a trailing backslash must not escape the closing quote
    EXPECT_EQ(QuoteArgument(L"\\\\"), L"\"\\\\\\\\\"");
    EXPECT_EQ(QuoteArgument(L"\""), L"\"\\\"\"");
}

TEST(QuoteArgument, TextAfterANulIsDropped) {
    EXPECT_EQ(QuoteArgument(std::wstring(L"id") + L'\0' + L"\" --evil"), L"\"id\"");
}

TEST(QuoteArgument, AnIdWithQuotesCannotInjectArguments) {
    const std::wstring id = L"1\" --password \"x";
    EXPECT_EQ(ParsedBack(BuildParameterText({L"--connect", id})), (std::vector<std::wstring>{L"--connect", id}));
}

TEST(QuoteArgument, EveryArgumentReadsBackUnchanged) {
    const std::vector<std::wstring> samples = {
        L"", L" ", L"\t", L"\"", L"\\", L"\\\"", L"\"\"", L"a b", L"\\\\server\\share\\", L"x\\\\\"y", L"\"\\\"\\",
        L"end\\\\", L"中文 \"引号\" \\", L"--connect", L"a\nb",
    };
    for (const std::wstring& sample : samples) {
        EXPECT_EQ(ParsedBack(BuildParameterText({sample, L"next"})), (std::vector<std::wstring>{sample, L"next"}))
            << BuildParameterText({sample}).c_str();
    }
    std::mt19937 random(20240611);
    const wchar_t alphabet[] = L"ab \t\\\"\\\"中";
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::wstring> arguments(1 + random() % 3);
        for (std::wstring& argument : arguments) {
            const int length = static_cast<int>(random() % 10);
            for (int i = 0; i < length; ++i) {
                argument.push_back(alphabet[random() % (sizeof alphabet / sizeof alphabet[0] - 1)]);
            }
        }
        ASSERT_EQ(ParsedBack(BuildParameterText(arguments)), arguments) << BuildParameterText(arguments).c_str();
    }
}

}  // namespace
}  // namespace ostrevane
