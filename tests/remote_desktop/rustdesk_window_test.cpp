// Recognising RustDesk's window: title rules and executable names.
#include "remote_desktop/rustdesk_window.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(MatchRustDeskTitle, TheIdIsTriedFirst) {
    EXPECT_EQ(MatchRustDeskTitle(L"318 402 775", L"318 402 775"), TitleMatch::Id);
    EXPECT_EQ(MatchRustDeskTitle(L"RustDesk - 318 402 775", L"318 402 775"), TitleMatch::Id);
    EXPECT_EQ(MatchRustDeskTitle(L"Remote 318402775 (viewer)", L"318402775"), TitleMatch::Id);
}

TEST(MatchRustDeskTitle, TheIdMustMatchExactly) {
    EXPECT_EQ(MatchRustDeskTitle(L"318402775", L"318 402 775"), TitleMatch::None);
    EXPECT_EQ(MatchRustDeskTitle(L"Abc-Site", L"abc-site"), TitleMatch::None);
    EXPECT_EQ(MatchRustDeskTitle(L"318 402 77", L"318 402 775"), TitleMatch::None);
}

TEST(MatchRustDeskTitle, TheNameMatchesInAnyLetterCase) {
    EXPECT_EQ(MatchRustDeskTitle(L"RustDesk", L"318"), TitleMatch::Name);
    EXPECT_EQ(MatchRustDeskTitle(L"RUSTDESK - Connection", L""), TitleMatch::Name);
    EXPECT_EQ(MatchRustDeskTitle(L"Download rustdesk - Browser", L"999"), TitleMatch::Name);
    EXPECT_EQ(MatchRustDeskTitle(L"Rust Desk", L"999"), TitleMatch::None);
    EXPECT_EQ(MatchRustDeskTitle(L"", L""), TitleMatch::None);
}

TEST(MatchRustDeskTitle, AnEmptyIdMatchesNothingByItself) {
    EXPECT_EQ(MatchRustDeskTitle(L"Notepad", L""), TitleMatch::None);
}

TEST(FileNameOf, PartAfterTheLastSeparator) {
    EXPECT_EQ(FileNameOf(L"C:\\Program Files\\RustDesk\\rustdesk.exe"), L"rustdesk.exe");
    EXPECT_EQ(FileNameOf(L"Z:/work/build/rustdesk.exe"), L"rustdesk.exe");
    EXPECT_EQ(FileNameOf(L"C:\\mixed/dir\\RustDesk.exe"), L"RustDesk.exe");
    EXPECT_EQ(FileNameOf(L"rustdesk.exe"), L"rustdesk.exe");
    EXPECT_EQ(FileNameOf(L"C:\\dir\\"), L"");
}

TEST(SameExecutableName, LetterCaseIgnoredEmptyNeverMatches) {
    EXPECT_TRUE(SameExecutableName(L"rustdesk.exe", L"RustDesk.EXE"));
    EXPECT_FALSE(SameExecutableName(L"rustdesk.exe", L"rustdesk-browser.exe"));
    EXPECT_FALSE(SameExecutableName(L"rustdesk.exe", L"rustdesk.ex"));
    EXPECT_FALSE(SameExecutableName(L"", L""));
    EXPECT_FALSE(SameExecutableName(L"", L"rustdesk.exe"));
}

}  // namespace
}  // namespace ostrevane
