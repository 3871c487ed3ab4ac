#include "platform/runtime_directories.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

TEST(RuntimeDirectoryUnder, JoinsTheRuntimeFolderToTheBase) {
    EXPECT_EQ(RuntimeDirectoryUnder(L"C:\\users\\root\\Temp\\"), L"C:\\users\\root\\Temp\\Ostrevane\\Runtime");
    EXPECT_EQ(RuntimeDirectoryUnder(L"C:\\ProgramData"), L"C:\\ProgramData\\Ostrevane\\Runtime");
    EXPECT_EQ(RuntimeDirectoryUnder(L""), L"Ostrevane\\Runtime");
}

TEST(RuntimeDirectories, CacheIsUnderTheTemporaryDirectoryAndSharedUnderProgramData) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    EXPECT_EQ(RuntimeCacheDirectory(), std::wstring(temp) + L"Ostrevane\\Runtime");
    EXPECT_EQ(SharedRuntimeDirectory(), L"C:\\ProgramData\\Ostrevane\\Runtime");
}

}  // namespace
}  // namespace ostrevane
