#include "platform/reparse_path.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "support/test_files.h"

namespace ostrevane {
namespace {

using Folders = std::vector<std::wstring>;

TEST(FoldersOnTheWay, AreTheFoldersBelowTheDriveRootOutermostFirst) {
    EXPECT_EQ(FoldersOnTheWay(L"C:\\Users\\a\\AppData\\Roaming\\RustDesk\\config\\RustDesk2.toml"),
              (Folders{L"C:\\Users", L"C:\\Users\\a", L"C:\\Users\\a\\AppData", L"C:\\Users\\a\\AppData\\Roaming",
                       L"C:\\Users\\a\\AppData\\Roaming\\RustDesk", L"C:\\Users\\a\\AppData\\Roaming\\RustDesk\\config"}));
    EXPECT_EQ(FoldersOnTheWay(L"C:\\x.toml"), Folders{});
    EXPECT_EQ(FoldersOnTheWay(L"\\\\server\\share\\a\\x.toml"), Folders{L"\\\\server\\share\\a"});
    EXPECT_EQ(FoldersOnTheWay(L"C:/Users//a/x.toml"), (Folders{L"C:/Users", L"C:/Users//a"}));
}

TEST(PassesThroughReparsePoint, AnyFolderMarkedAsAReparsePointCounts) {
    const Folders folders{L"C:\\Users", L"C:\\Users\\a", L"C:\\Users\\a\\config"};
    std::map<std::wstring, unsigned long> attributes{{L"C:\\Users", FILE_ATTRIBUTE_DIRECTORY},
                                                     {L"C:\\Users\\a", FILE_ATTRIBUTE_DIRECTORY}};
    const auto lookup = [&](const std::wstring& folder) {
        const auto found = attributes.find(folder);
        return found == attributes.end() ? INVALID_FILE_ATTRIBUTES : found->second;
    };
    EXPECT_FALSE(PassesThroughReparsePoint(folders, lookup)) << "a missing folder is made, not followed";
    attributes[L"C:\\Users\\a"] = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_TRUE(PassesThroughReparsePoint(folders, lookup)) << "a junction in the middle";
    attributes[L"C:\\Users\\a"] = FILE_ATTRIBUTE_DIRECTORY;
    attributes[L"C:\\Users\\a\\config"] = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_TRUE(PassesThroughReparsePoint(folders, lookup)) << "a link as the last folder";
}

// That the held folders cannot be renamed meanwhile Wine does not show (it ignores the sharing).
TEST(HoldFoldersWithoutLinks, MakesTheMissingFoldersAndHoldsEveryOne) {
    testing::TempDirectory temp;
    const std::wstring file = temp / L"a\\b\\x.toml";
    const std::vector<UniqueFileHandle> held = HoldFoldersWithoutLinks(file);
    EXPECT_EQ(held.size(), FoldersOnTheWay(file).size());
    EXPECT_NE(GetFileAttributesW((temp / L"a\\b").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(HoldFoldersWithoutLinks, RefusesAPathThroughALinkAndMakesNothingBeyondIt) {
    testing::TempDirectory temp;
    ASSERT_TRUE(CreateDirectoryW((temp / L"elsewhere").c_str(), nullptr));
    if (!testing::MakeUnixLink(temp / L"link", temp / L"elsewhere")) {
        GTEST_SKIP() << "no way to make a link here";
    }
    EXPECT_TRUE(HoldFoldersWithoutLinks(temp / L"link\\config\\x.toml").empty());
    EXPECT_EQ(GetFileAttributesW((temp / L"elsewhere\\config").c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW((temp / L"link").c_str());
    RemoveDirectoryW((temp / L"link").c_str());
}

}  // namespace
}  // namespace ostrevane
