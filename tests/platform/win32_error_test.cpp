#include "platform/win32_error.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/text_encoding.h"

namespace ostrevane {
namespace {

// A code inside the application range, for which the system has no text.
constexpr DWORD kCodeWithoutText = 0x2000BEEF;

TEST(Win32ErrorText, JoinsTheSystemTextOrSaysFailed) {
    EXPECT_EQ(Win32ErrorText(L"WinHttpOpen", L"The handle is invalid.\r\n"), L"WinHttpOpen: The handle is invalid.\r\n");
    EXPECT_EQ(Win32ErrorText(L"WinHttpOpen", L""), L"WinHttpOpen failed.");
}

TEST(FormatWin32Error, UsesTheSystemTextOfTheLastErrorAsReturned) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    const std::wstring text = FormatWin32Error(L"CreateFileW");
    const std::wstring head = L"CreateFileW: ";
    ASSERT_GT(text.size(), head.size() + 2);
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n") << "the system text keeps its line break";
    EXPECT_EQ(text.find(L"failed."), std::wstring::npos);
}

TEST(FormatWin32Error, SaysFailedForACodeWithoutSystemText) {
    SetLastError(kCodeWithoutText);
    EXPECT_EQ(FormatWin32Error(L"WinHttpConnect"), L"WinHttpConnect failed.");
}

TEST(FormatWin32Error, DifferentCodesGiveDifferentTexts) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    const std::wstring notFound = FormatWin32Error(L"x");
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_NE(FormatWin32Error(L"x"), notFound);
}

TEST(FormatWin32Error, WinHttpCodesTakeTheirTextFromWinHttpsOwnTable) {
    for (const DWORD code : {12002ul, 12007ul, 12029ul}) {  // timeout, name not resolved, cannot connect
        SetLastError(code);
        const std::wstring text = FormatWin32Error(L"WinHttpSendRequest");
        EXPECT_EQ(text.rfind(L"WinHttpSendRequest: ", 0), 0u) << code << ": " << WideToUtf8(text);
        EXPECT_EQ(text.find(L"failed."), std::wstring::npos) << WideToUtf8(text);
    }
}

TEST(KnownWinHttpText, NamesTheCommonFailuresAndNothingElse) {
    EXPECT_EQ(KnownWinHttpText(12029), L"A connection with the server could not be established\r\n");
    EXPECT_EQ(KnownWinHttpText(12002), L"The operation timed out\r\n");
    EXPECT_EQ(KnownWinHttpText(12999), L"");
    EXPECT_EQ(KnownWinHttpText(ERROR_ACCESS_DENIED), L"");
}

TEST(ThrowWin32Error, ThrowsTheFormattedTextInUtf8) {
    SetLastError(kCodeWithoutText);
    try {
        ThrowWin32Error(L"打开");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "\xE6\x89\x93\xE5\xBC\x80 failed.");
    }
    SetLastError(ERROR_ACCESS_DENIED);
    try {
        ThrowWin32Error(L"WinHttpSendRequest");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(std::string(error.what()), WideToUtf8(FormatWin32Error(L"WinHttpSendRequest")));
    }
}

}  // namespace
}  // namespace ostrevane
