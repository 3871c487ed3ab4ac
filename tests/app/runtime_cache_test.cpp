#include "app/runtime_cache.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "platform/runtime_directories.h"
#include "platform/unique_handle.h"
#include "support/genuine_divert.h"
#include "support/test_files.h"
#include "tunnel/divert_files.h"

namespace ostrevane {
namespace {

constexpr std::uint64_t kGenuineLibrarySize = 47616;
constexpr std::uint64_t kGenuineDriverSize = 94144;

std::string GenuineFile(const wchar_t* name) {
    return testing::ReadFileBytes(testing::GenuineDivertDirectory() + L"\\" + name).value_or("<missing>");
}

std::wstring CachedLibrary() { return JoinPath(RuntimeCacheDirectory(), kDivertLibraryFileName); }
std::wstring CachedDriver() { return JoinPath(RuntimeCacheDirectory(), kDivertDriverFileName); }
std::string Content(const std::wstring& path) { return testing::ReadFileBytes(path).value_or("<missing>"); }

std::optional<std::uint64_t> LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// Dates a file back to 2001 so that any later write shows in its modification time.
void DateBack(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    SYSTEMTIME old{2001, 1, 1, 1, 12, 0, 0, 0};
    FILETIME time{};
    SystemTimeToFileTime(&old, &time);
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &time));
}

// Every test starts with an empty cache.
class RuntimeCacheTest : public ::testing::Test {
protected:
    void SetUp() override { ClearCache(); }

    static void ClearCache() {
        DeleteFileW(CachedLibrary().c_str());
        DeleteFileW(CachedDriver().c_str());
        ASSERT_EQ(GetFileAttributesW(CachedLibrary().c_str()), INVALID_FILE_ATTRIBUTES);
        ASSERT_EQ(GetFileAttributesW(CachedDriver().c_str()), INVALID_FILE_ATTRIBUTES);
    }

    static void ExpectGenuineCache() {
        EXPECT_EQ(RegularFileSize(CachedLibrary()), kGenuineLibrarySize);
        EXPECT_EQ(RegularFileSize(CachedDriver()), kGenuineDriverSize);
        EXPECT_TRUE(Content(CachedLibrary()) == GenuineFile(kDivertLibraryFileName));
        EXPECT_TRUE(Content(CachedDriver()) == GenuineFile(kDivertDriverFileName));
    }
};

TEST_F(RuntimeCacheTest, AnEmptyCacheGetsBothGenuineFiles) {
    PrepareDriverRuntime();
    ExpectGenuineCache();
}

TEST_F(RuntimeCacheTest, ASecondStartWritesNothing) {
    PrepareDriverRuntime();
    DateBack(CachedLibrary());
    DateBack(CachedDriver());
    const auto libraryTime = LastWriteTime(CachedLibrary());
    const auto driverTime = LastWriteTime(CachedDriver());
    ASSERT_TRUE(libraryTime && driverTime);

    PrepareDriverRuntime();
    EXPECT_EQ(LastWriteTime(CachedLibrary()), libraryTime);
    EXPECT_EQ(LastWriteTime(CachedDriver()), driverTime);
    ExpectGenuineCache();
}

TEST_F(RuntimeCacheTest, ACachedFileOfAnotherSizeIsRewritten) {
    PrepareDriverRuntime();
    ASSERT_TRUE(testing::WriteFileBytes(CachedLibrary(), GenuineFile(kDivertLibraryFileName).substr(0, 1000)));
    ASSERT_TRUE(testing::WriteFileBytes(CachedDriver(), GenuineFile(kDivertDriverFileName) + "longer"));
    PrepareDriverRuntime();
    ExpectGenuineCache();
}

TEST_F(RuntimeCacheTest, ACachedFileOfTheSameSizeButOtherContentIsRewritten) {
    PrepareDriverRuntime();
    ASSERT_TRUE(testing::WriteFileBytes(CachedLibrary(), std::string(kGenuineLibrarySize, '\0')));
    ASSERT_TRUE(testing::WriteFileBytes(CachedDriver(), std::string(kGenuineDriverSize, 'S')));
    PrepareDriverRuntime();
    ExpectGenuineCache();
}

TEST(ExtractResourceFile, CreatesMissingFoldersAndWritesTheResource) {
    testing::TempDirectory temp;
    const std::wstring path = temp / L"a\\b\\c\\WinDivert64.sys";
    EXPECT_TRUE(ExtractResourceFile(kDivertDriverResourceId, path));
    EXPECT_TRUE(Content(path) == GenuineFile(kDivertDriverFileName));
}

TEST(ExtractResourceFile, FailsForAMissingResourceWithoutCreatingAFile) {
    testing::TempDirectory temp;
    EXPECT_FALSE(ExtractResourceFile(999, temp / L"missing.bin"));
    EXPECT_EQ(GetFileAttributesW((temp / L"missing.bin").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ExtractResourceFile, FailsWhenTheFileCannotBeWritten) {
    testing::TempDirectory temp;
    const std::wstring directory = temp / L"WinDivert.dll";
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    EXPECT_FALSE(ExtractResourceFile(kDivertLibraryResourceId, directory));

    const std::wstring locked = temp / L"locked.dll";
    ASSERT_TRUE(testing::WriteFileBytes(locked, "old"));
    UniqueFileHandle holder(
        CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(ExtractResourceFile(kDivertLibraryResourceId, locked));
    holder.reset();
    EXPECT_EQ(Content(locked), "old") << "a failure leaves the previous file in place";
}

// A development tree: the probe program placed at <root>\<marker folder>\bin and driver files
// under <root>\src\EngineerClient\EmbeddedRuntime\windivert\x64.
class SourceTree {
public:
    SourceTree(const testing::TempDirectory& temp, const std::wstring& markerFolder, const std::string& library,
               const std::string& driver) {
        const std::wstring root = temp / L"repo";
        const std::wstring bin = root + L"\\src\\" + markerFolder + L"\\bin";
        const std::wstring drivers = root + L"\\src\\EngineerClient\\EmbeddedRuntime\\windivert\\x64";
        CreateDirectoryTree(bin);
        CreateDirectoryTree(drivers);
        program_ = bin + L"\\app_probe.exe";
        EXPECT_TRUE(CopyFileW((std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\app\\app_probe.exe").c_str(),
                              program_.c_str(), FALSE));
        EXPECT_TRUE(testing::WriteFileBytes(drivers + L"\\WinDivert.dll", library));
        EXPECT_TRUE(testing::WriteFileBytes(drivers + L"\\WinDivert64.sys", driver));
    }

    // Starts the program from the tree, as a developer's build would run (working directory
    // outside the tree, so the tree can be removed).
    void Start() const { EXPECT_EQ(testing::RunProgram(program_, {L"runtime"}, L""), std::optional<DWORD>(0)); }

private:
    std::wstring program_;
};

TEST_F(RuntimeCacheTest, ADevelopmentTreesDriverFilesNeverReachTheCache) {
    testing::TempDirectory temp;
    SourceTree tree(temp, L"OstrevaneNative", std::string(1234, 'L'), std::string(2345, 'S'));
    tree.Start();
    ExpectGenuineCache();
}

}  // namespace
}  // namespace ostrevane
