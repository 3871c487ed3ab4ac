#include "tunnel/divert_api.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/divert_files_choice.h"
#include "support/genuine_divert.h"
#include "support/test_files.h"
#include "platform/text_encoding.h"
#include "tunnel/divert_files.h"

namespace ostrevane {
namespace {

std::string LoadError() {
    try {
        LoadDivertApi();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

std::string Genuine(const wchar_t* name) {
    return testing::ReadFileBytes(testing::GenuineDivertDirectory() + L"\\" + name).value_or("");
}

std::wstring ModulePath(HMODULE module) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

// The genuine files, expected in a fresh folder of the test's own.
class DivertFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Genuine(kDivertLibraryFileName).empty());
        UseDivertFilesForTesting(
            DivertFiles{temp_.path(), Genuine(kDivertLibraryFileName), Genuine(kDivertDriverFileName)});
    }
    void TearDown() override { testing::UseEmbeddedDivertFiles(); }
    std::wstring Library() const { return temp_ / kDivertLibraryFileName; }
    std::wstring Driver() const { return temp_ / kDivertDriverFileName; }

    testing::TempDirectory temp_;
};

TEST_F(DivertFilesTest, LoadsTheExpectedLibraryByFullPathAndUnloadsItWithTheTable) {
    {
        std::unique_ptr<DivertApi> api = LoadDivertApi();
        ASSERT_TRUE(api->module);
        EXPECT_NE(api->open, nullptr);
        EXPECT_NE(api->recv, nullptr);
        EXPECT_NE(api->send, nullptr);
        EXPECT_NE(api->calcChecksums, nullptr);
        EXPECT_NE(api->close, nullptr);
        EXPECT_EQ(_wcsicmp(ModulePath(api->module.get()).c_str(), Library().c_str()), 0) << "loaded from the folder";
        EXPECT_TRUE(testing::ReadFileBytes(Driver()) == Genuine(kDivertDriverFileName));
    }
    EXPECT_EQ(GetModuleHandleW(L"WinDivert.dll"), nullptr) << "releasing the table must unload the library";
}

TEST_F(DivertFilesTest, RewritesPlantedFilesOfTheRightSizeBeforeTheLoad) {
    std::string planted = Genuine(kDivertLibraryFileName);
    planted[planted.size() / 2] ^= 0x5A;
    ASSERT_TRUE(testing::WriteFileBytes(Library(), planted));
    ASSERT_TRUE(testing::WriteFileBytes(Driver(), std::string(Genuine(kDivertDriverFileName).size(), 'S')));
    std::unique_ptr<DivertApi> api = LoadDivertApi();
    EXPECT_TRUE(testing::ReadFileBytes(Library()) == Genuine(kDivertLibraryFileName));
    EXPECT_TRUE(testing::ReadFileBytes(Driver()) == Genuine(kDivertDriverFileName));
    EXPECT_EQ(_wcsicmp(ModulePath(api->module.get()).c_str(), Library().c_str()), 0);
}

TEST_F(DivertFilesTest, NobodyCanChangeOrDeleteTheFilesWhileTheTableLives) {
    std::unique_ptr<DivertApi> api = LoadDivertApi();
    for (const std::wstring& path : {Library(), Driver()}) {
        HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << WideToUtf8(path);
        if (writer != INVALID_HANDLE_VALUE) {
            CloseHandle(writer);
        }
        EXPECT_FALSE(DeleteFileW(path.c_str()));
        EXPECT_FALSE(MoveFileExW(path.c_str(), (path + L".old").c_str(), 0));
    }
    api.reset();
    EXPECT_TRUE(DeleteFileW(Driver().c_str())) << "released with the table";
}

TEST_F(DivertFilesTest, ReportsAMissingDriverWithoutLoadingTheLibrary) {
    UseDivertFilesForTesting(DivertFiles{temp_.path(), Genuine(kDivertLibraryFileName), ""});
    EXPECT_EQ(LoadError(), "WinDivert64.sys was not found in the runtime cache.");
    EXPECT_EQ(GetModuleHandleW(L"WinDivert.dll"), nullptr);
}

TEST_F(DivertFilesTest, NeverWritesOrLoadsThroughALinkedCacheFolder) {
    ASSERT_TRUE(CreateDirectoryW((temp_ / L"elsewhere").c_str(), nullptr));
    if (!testing::MakeUnixLink(temp_ / L"linked", temp_ / L"elsewhere")) {
        GTEST_SKIP() << "no way to make a link here";
    }
    UseDivertFilesForTesting(
        DivertFiles{temp_ / L"linked", Genuine(kDivertLibraryFileName), Genuine(kDivertDriverFileName)});
    EXPECT_EQ(LoadError(), "WinDivert.dll was not found in the runtime cache.");
    EXPECT_FALSE(testing::ReadFileBytes(temp_ / L"elsewhere\\WinDivert.dll"));
    DeleteFileW((temp_ / L"linked").c_str());
    RemoveDirectoryW((temp_ / L"linked").c_str());
}

TEST(LoadDivertApi, ReportsALibraryWithoutAllExports) {
    testing::UseDivertLibraryIn(std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\partial_divert");
    EXPECT_EQ(LoadError(), "WinDivert.dll is missing required exports.");
    EXPECT_EQ(GetModuleHandleW(L"WinDivert.dll"), nullptr);
    testing::UseEmbeddedDivertFiles();
}

TEST(LoadDivertApi, ReportsAMissingLibrary) {
    testing::UseDivertLibraryIn(std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\empty");
    EXPECT_EQ(LoadError(), "WinDivert.dll was not found in the runtime cache.");
    testing::UseEmbeddedDivertFiles();
}

TEST(LoadDivertApi, ATestProgramWithoutResourcesHasNoLibraryToLoad) {
    EXPECT_EQ(LoadError(), "WinDivert.dll was not found in the runtime cache.");
}

}  // namespace
}  // namespace ostrevane
