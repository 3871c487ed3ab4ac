// The clipboard helper against the real clipboard of the X display.
#include "remote_desktop/clipboard.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "platform/text_encoding.h"

namespace ostrevane {
namespace {

std::wstring ClipboardText() { return ReadClipboardText(); }

TEST(CopyTextToClipboard, TextIsReadBackAsUnicodeText) {
    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"demo-8842"));
    EXPECT_EQ(ClipboardText(), L"demo-8842");
    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"密码 \"x\"\r\n\\"));
    EXPECT_EQ(ClipboardText(), L"密码 \"x\"\r\n\\");
}

TEST(CopyTextToClipboard, EmptyTextLeavesTheClipboardAlone) {
    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"kept"));
    EXPECT_FALSE(CopyTextToClipboard(nullptr, L""));
    EXPECT_EQ(ClipboardText(), L"kept");
}

TEST(CopyTextToClipboard, ClipboardHeldOpenElsewhereFails) {
    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"before"));
    HWND holder = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(holder, nullptr);
    bool result = true;
    std::wstring after;
    {
        // Another thread holds the clipboard open, as another program would.
        HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread other([&] {
            if (OpenClipboard(nullptr)) {
                SetEvent(opened);
                WaitForSingleObject(release, 10000);
                CloseClipboard();
            } else {
                SetEvent(opened);
            }
        });
        WaitForSingleObject(opened, 10000);
        result = CopyTextToClipboard(holder, L"after");
        SetEvent(release);
        other.join();
        CloseHandle(opened);
        CloseHandle(release);
    }
    DestroyWindow(holder);
    EXPECT_FALSE(result);
    EXPECT_EQ(ClipboardText(), L"before");
}

// The DWORD of a registered format, or none when the clipboard does not hold it.
std::optional<DWORD> FormatValue(const wchar_t* name) {
    std::optional<DWORD> value;
    const UINT format = RegisterClipboardFormatW(name);
    if (format == 0 || !OpenClipboard(nullptr)) {
        return value;
    }
    if (HANDLE data = GetClipboardData(format)) {
        if (GlobalSize(data) >= sizeof(DWORD)) {
            if (const auto* bytes = static_cast<const DWORD*>(GlobalLock(data))) {
                value = *bytes;
                GlobalUnlock(data);
            }
        }
    }
    CloseClipboard();
    return value;
}

const wchar_t* const kPrivacyFormats[] = {L"ExcludeClipboardContentFromMonitorProcessing",
                                          L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"};

TEST(CopySecretToClipboard, KeepsThePasswordOutOfHistoryAndCloud) {
    ASSERT_TRUE(CopySecretToClipboard(nullptr, L"pw-8842"));
    EXPECT_EQ(ClipboardText(), L"pw-8842");
    for (const wchar_t* name : kPrivacyFormats) {
        EXPECT_EQ(FormatValue(name), std::optional<DWORD>(0)) << WideToUtf8(name);
    }
    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"access key"));
    EXPECT_FALSE(FormatValue(kPrivacyFormats[1])) << "ordinary text may go into the history";
}

TEST(ClearClipboardIfHolds, EmptiesOnlyThePassword) {
    ASSERT_TRUE(CopySecretToClipboard(nullptr, L"pw-1"));
    EXPECT_FALSE(ClearClipboardIfHolds(L"pw-2"));
    EXPECT_EQ(ClipboardText(), L"pw-1");
    EXPECT_TRUE(ClearClipboardIfHolds(L"pw-1"));
    EXPECT_EQ(ClipboardText(), L"");
    EXPECT_FALSE(FormatValue(kPrivacyFormats[0]));

    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"copied by the engineer"));
    EXPECT_FALSE(ClearClipboardIfHolds(L"pw-1"));
    EXPECT_EQ(ClipboardText(), L"copied by the engineer");
}

}  // namespace
}  // namespace ostrevane
