// The clipboard helper against the real clipboard of the X display.
#include "remote_desktop/clipboard.h"

#include <gtest/gtest.h>

#include <thread>

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

}  // namespace
}  // namespace ostrevane
