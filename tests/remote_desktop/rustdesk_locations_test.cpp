// The install places searched for RustDesk, the shared-runtime test and download addresses.
#include "remote_desktop/rustdesk_locations.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(RustDeskCandidates, NinePlacesInSearchOrder) {
    const RustDeskSearchFolders folders{L"C:\\Program Files", L"C:\\Program Files (x86)", L"C:\\Users\\e\\AppData\\Local",
                                        L"C:\\Tools\\Ostrevane"};
    EXPECT_EQ(RustDeskCandidates(folders), (std::vector<std::wstring>{
                                               L"D:\\Program Files\\RustDesk\\rustdesk.exe",
                                               L"D:\\Program Files\\RustDesk\\RustDesk.exe",
                                               L"C:\\Program Files\\RustDesk\\rustdesk.exe",
                                               L"C:\\Program Files\\RustDesk\\RustDesk.exe",
                                               L"C:\\Program Files (x86)\\RustDesk\\rustdesk.exe",
                                               L"C:\\Program Files (x86)\\RustDesk\\RustDesk.exe",
                                               L"C:\\Users\\e\\AppData\\Local\\Programs\\RustDesk\\rustdesk.exe",
                                               L"C:\\Users\\e\\AppData\\Local\\Programs\\RustDesk\\RustDesk.exe",
                                               L"C:\\Tools\\Ostrevane\\Runtime\\rustdesk.exe",
                                           }));
}

TEST(RustDeskCandidates, MissingFoldersLeaveRelativeTails) {
    const std::vector<std::wstring> candidates = RustDeskCandidates({});
    ASSERT_EQ(candidates.size(), 9u);
    EXPECT_EQ(candidates[2], L"RustDesk\\rustdesk.exe");
    EXPECT_EQ(candidates[5], L"RustDesk\\RustDesk.exe");
    EXPECT_EQ(candidates[6], L"Programs\\RustDesk\\rustdesk.exe");
    EXPECT_EQ(candidates[8], L"Runtime\\rustdesk.exe");
}

TEST(RustDeskCandidates, NoSecondSeparatorAfterAFolderEndingInOne) {
    const std::vector<std::wstring> candidates = RustDeskCandidates({L"C:\\PF\\", L"C:\\PF86/", L"L\\", L"C:\\"});
    EXPECT_EQ(candidates[2], L"C:\\PF\\RustDesk\\rustdesk.exe");
    EXPECT_EQ(candidates[4], L"C:\\PF86/RustDesk\\rustdesk.exe");
    EXPECT_EQ(candidates[6], L"L\\Programs\\RustDesk\\rustdesk.exe");
    EXPECT_EQ(candidates[8], L"C:\\Runtime\\rustdesk.exe");
}

TEST(PathContainsDirectory, TextTestIgnoringCase) {
    const std::wstring shared = L"C:\\ProgramData\\Ostrevane\\Runtime";
    EXPECT_TRUE(PathContainsDirectory(L"C:\\ProgramData\\Ostrevane\\Runtime\\rustdesk.exe", shared));
    EXPECT_TRUE(PathContainsDirectory(L"c:\\programdata\\OSTREVANE\\runtime\\rustdesk.exe", shared));
    // Anywhere in the path, even as the start of a longer folder name: a text test only.
    EXPECT_TRUE(PathContainsDirectory(L"\\\\?\\C:\\ProgramData\\Ostrevane\\Runtime2\\x.exe", shared));
    EXPECT_FALSE(PathContainsDirectory(L"C:\\ProgramData\\Ostrevane\\rustdesk.exe", shared));
    EXPECT_FALSE(PathContainsDirectory(L"C:/ProgramData/Ostrevane/Runtime/rustdesk.exe", shared));
    EXPECT_FALSE(PathContainsDirectory(L"", shared));
}

TEST(PathContainsDirectory, AnEmptyDirectoryContainsEverything) {
    EXPECT_TRUE(PathContainsDirectory(L"C:\\Program Files\\RustDesk\\rustdesk.exe", L""));
    EXPECT_TRUE(PathContainsDirectory(L"", L""));
}

TEST(ResolveDownloadUrl, AbsoluteAddressesStayAsTheyAre) {
    EXPECT_EQ(ResolveDownloadUrl(L"http://127.0.0.1:18650", L"https://files.example/rustdesk-1.2.exe"),
              L"https://files.example/rustdesk-1.2.exe");
    EXPECT_EQ(ResolveDownloadUrl(L"http://a", L"  http://127.0.0.1:9/x.exe \r\n"), L"http://127.0.0.1:9/x.exe");
    EXPECT_EQ(ResolveDownloadUrl(L"http://a", L"ftp://host/x"), L"ftp://host/x");
}

TEST(ResolveDownloadUrl, RelativeAddressesHangOffTheNormalisedBase) {
    EXPECT_EQ(ResolveDownloadUrl(L"http://127.0.0.1:18650", L"/downloads/rustdesk.exe"),
              L"http://127.0.0.1:18650/downloads/rustdesk.exe");
    EXPECT_EQ(ResolveDownloadUrl(L"http://127.0.0.1:18650", L"downloads/rustdesk.exe"),
              L"http://127.0.0.1:18650/downloads/rustdesk.exe");
    EXPECT_EQ(ResolveDownloadUrl(L" 127.0.0.1:18650/api/ ", L"x.exe"), L"http://127.0.0.1:18650/api/x.exe");
    EXPECT_EQ(ResolveDownloadUrl(L"http:\\\\host\\", L"/a"), L"http://host/a");
    EXPECT_EQ(ResolveDownloadUrl(L"", L"/a"), L"http://127.0.0.1:18650/a");
    EXPECT_EQ(ResolveDownloadUrl(L"http://h", L"a:/b"), L"http://h/a:/b");
}

TEST(ResolveDownloadUrl, EmptyAddressGivesNothing) {
    EXPECT_EQ(ResolveDownloadUrl(L"http://127.0.0.1:18650", L""), L"");
    EXPECT_EQ(ResolveDownloadUrl(L"http://127.0.0.1:18650", L" \t\r\n"), L"");
}

}  // namespace
}  // namespace ostrevane
