#include "app/runtime_layout.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(SourceTreeRoot, IsThePathBeforeTheFirstMarker) {
    EXPECT_EQ(SourceTreeRoot(L"D:\\dev\\repo\\src\\OstrevaneNative\\bin\\Ostrevane.Client.exe"), L"D:\\dev\\repo");
    EXPECT_EQ(SourceTreeRoot(L"D:\\a\\src\\OstrevaneNative\\b\\src\\OstrevaneNative\\c.exe"), L"D:\\a");
    EXPECT_EQ(SourceTreeRoot(L"x\\src\\OstrevaneNative\\"), L"x");
}

TEST(SourceTreeRoot, IsEmptyWithoutTheExactMarker) {
    EXPECT_EQ(SourceTreeRoot(L"D:\\dev\\repo\\src\\ostrevanenative\\bin\\a.exe"), L"");
    EXPECT_EQ(SourceTreeRoot(L"D:\\dev\\repo\\SRC\\OstrevaneNative\\bin\\a.exe"), L"");
    EXPECT_EQ(SourceTreeRoot(L"D:\\dev\\repo\\src/OstrevaneNative\\bin\\a.exe"), L"");
    EXPECT_EQ(SourceTreeRoot(L"D:\\dev\\repo\\src\\OstrevaneNative.exe"), L"");
    EXPECT_EQ(SourceTreeRoot(L"\\src\\OstrevaneNative"), L"") << "shorter than the marker";
    EXPECT_EQ(SourceTreeRoot(L""), L"");
}

TEST(SourceTreeRoot, IsEmptyWhenTheMarkerStandsAtTheStart) {
    EXPECT_EQ(SourceTreeRoot(L"\\src\\OstrevaneNative\\bin\\a.exe"), L"");
}

TEST(SourceTreeDriverCopies, CopiesTheTreesX64FilesIntoTheCache) {
    const auto copies = SourceTreeDriverCopies(L"D:\\repo\\src\\OstrevaneNative\\bin\\a.exe", L"C:\\Temp\\Ostrevane\\Runtime");
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].source, L"D:\\repo\\src\\EngineerClient\\EmbeddedRuntime\\windivert\\x64\\WinDivert.dll");
    EXPECT_EQ(copies[0].destination, L"C:\\Temp\\Ostrevane\\Runtime\\WinDivert.dll");
    EXPECT_EQ(copies[1].source, L"D:\\repo\\src\\EngineerClient\\EmbeddedRuntime\\windivert\\x64\\WinDivert64.sys");
    EXPECT_EQ(copies[1].destination, L"C:\\Temp\\Ostrevane\\Runtime\\WinDivert64.sys");
}

TEST(SourceTreeDriverCopies, IsEmptyOutsideATree) {
    EXPECT_TRUE(SourceTreeDriverCopies(L"C:\\Program Files\\Ostrevane\\Ostrevane.Client.exe", L"C:\\cache").empty());
    EXPECT_TRUE(SourceTreeDriverCopies(L"\\src\\OstrevaneNative\\a.exe", L"C:\\cache").empty());
}

}  // namespace
}  // namespace ostrevane
