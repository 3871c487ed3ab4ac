#include "platform/paths.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include "support/test_files.h"

namespace ostrevane {
namespace {

TEST(JoinPath, InsertsExactlyOneBackslashBetweenBaseAndName) {
    EXPECT_EQ(JoinPath(L"C:\\base", L"name"), L"C:\\base\\name");
    EXPECT_EQ(JoinPath(L"C:\\base\\", L"name"), L"C:\\base\\name");
    EXPECT_EQ(JoinPath(L"C:/base/", L"name"), L"C:/base/name");
    EXPECT_EQ(JoinPath(L"relative", L"a\\b"), L"relative\\a\\b");
}

TEST(JoinPath, GivesTheBareNameForAnEmptyBaseAndDoesNotNormalise) {
    EXPECT_EQ(JoinPath(L"", L"Ostrevane\\Runtime"), L"Ostrevane\\Runtime");
    EXPECT_EQ(JoinPath(L"C:\\base\\\\", L"name"), L"C:\\base\\\\name");
    EXPECT_EQ(JoinPath(L"C:\\base", L"\\name"), L"C:\\base\\\\name");
    EXPECT_EQ(JoinPath(L"C:\\base", L""), L"C:\\base\\");
}

TEST(DirectoryPart, CutsBeforeTheLastBackslashOrSlash) {
    EXPECT_EQ(DirectoryPart(L"C:\\a\\b\\file.dll"), L"C:\\a\\b");
    EXPECT_EQ(DirectoryPart(L"C:\\a/b/file.dll"), L"C:\\a/b");
    EXPECT_EQ(DirectoryPart(L"\\file"), L"");
    EXPECT_EQ(DirectoryPart(L"file.dll"), L"");
    EXPECT_EQ(DirectoryPart(L""), L"");
}

TEST(ModuleDirectory, IsTheTestProgramsFolderWithoutATrailingSeparator) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    const std::wstring directory = ModuleDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(std::wstring(path), directory + L"\\platform_tests.exe");
}

TEST(KnownFolderPath, GivesTheFolderOrEmptyForAnUnknownId) {
    EXPECT_EQ(KnownFolderPath(FOLDERID_ProgramData), L"C:\\ProgramData");
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(KnownFolderPath(unknown), L"");
}

TEST(RegularFileSize, IsTheSizeOfARegularFileAndZeroForAnythingElse) {
    testing::TempDirectory temp;
    ASSERT_TRUE(testing::WriteFileBytes(temp / L"five.bin", "12345"));
    EXPECT_EQ(RegularFileSize(temp / L"five.bin"), 5u);
    EXPECT_EQ(RegularFileSize(temp / L"missing.bin"), 0u);
    EXPECT_EQ(RegularFileSize(temp.path()), 0u);
    EXPECT_EQ(RegularFileSize(L""), 0u);
}

TEST(AttributeSize, IsMissingOnlyWhenTheAttributesCannotBeRead) {
    testing::TempDirectory temp;
    ASSERT_TRUE(testing::WriteFileBytes(temp / L"empty.bin", ""));
    ASSERT_TRUE(testing::WriteFileBytes(temp / L"three.bin", "abc"));
    EXPECT_EQ(AttributeSize(temp / L"empty.bin"), std::optional<std::uint64_t>(0));
    EXPECT_EQ(AttributeSize(temp / L"three.bin"), std::optional<std::uint64_t>(3));
    EXPECT_EQ(AttributeSize(temp / L"missing.bin"), std::nullopt);
    EXPECT_EQ(AttributeSize(L""), std::nullopt);
}

}  // namespace
}  // namespace ostrevane
