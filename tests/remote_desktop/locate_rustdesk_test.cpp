// Locating RustDesk in the prefix: the remembered path, the install places in order, and an
// earlier download in the shared runtime directory. Downloads are tested against the service.
#include "remote_desktop/locate_rustdesk.h"

#include <windows.h>
#include <knownfolders.h>

#include <gtest/gtest.h>

#include "platform/runtime_directories.h"
#include "rustdesk_places.h"
#include "settings/json_parser.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "support/state_guards.h"
#include "support/test_files.h"

namespace ostrevane::testing {
namespace {

constexpr std::size_t kMiB = 1048576;

class LocateRustDeskTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The expected places are written out; make sure the prefix agrees with them.
        ASSERT_EQ(KnownFolderPath(FOLDERID_ProgramFiles), L"C:\\Program Files");
        ASSERT_EQ(KnownFolderPath(FOLDERID_ProgramFilesX86), L"C:\\Program Files (x86)");
        ASSERT_EQ(KnownFolderPath(FOLDERID_LocalAppData), L"C:\\users\\root\\AppData\\Local");
        ASSERT_EQ(SharedRuntimeDirectory(), L"C:\\ProgramData\\Ostrevane\\Runtime");
        for (const std::wstring& path : places().All()) {
            ASSERT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << path.c_str();
        }
    }

    const RustDeskPlaces& places() const { return emptied_.places; }

    SettingsFileGuard settings_;
    EmptiedRustDeskPlaces emptied_;
    TempDirectory temporary_;
    ClientState state_;
};

bool SettingsFileExists() { return GetFileAttributesW(SettingsFilePath().c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST_F(LocateRustDeskTest, InstallPlacesAreSearchedInOrder) {
    for (const std::wstring& path : {places().besideExecutable, places().localPrograms, places().programFilesX86,
                                     places().programFiles}) {
        ASSERT_TRUE(PlaceFile(path, 100));
        EXPECT_EQ(LocateRustDesk(state_, nullptr), path);
    }
    for (const std::wstring& path : {places().programFiles, places().programFilesX86, places().localPrograms}) {
        DeleteFileW(path.c_str());
    }
    EXPECT_EQ(LocateRustDesk(state_, nullptr), places().besideExecutable);
    DeleteFileW(places().besideExecutable.c_str());
    EXPECT_EQ(LocateRustDesk(state_, nullptr), L"");
    EXPECT_TRUE(state_.rustDeskPath.empty());
}

TEST_F(LocateRustDeskTest, CapitalisedFileNameIsFoundToo) {
    const std::wstring capitalised = L"C:\\Program Files (x86)\\RustDesk\\RustDesk.exe";
    ASSERT_TRUE(PlaceFile(capitalised, 100));
    const std::wstring found = LocateRustDesk(state_, nullptr);
    EXPECT_TRUE(EqualsIgnoringCase(found, capitalised)) << found.c_str();
}

TEST_F(LocateRustDeskTest, RememberedPathOutsideTheSharedDirectoryComesFirst) {
    ASSERT_TRUE(PlaceFile(places().programFiles, 100));
    state_.rustDeskPath = temporary_ / L"portable-rustdesk.exe";
    ASSERT_TRUE(PlaceFile(state_.rustDeskPath, 10));  // any size: the engineer's own copy
    EXPECT_EQ(LocateRustDesk(state_, nullptr), state_.rustDeskPath);
}

TEST_F(LocateRustDeskTest, RememberedPathThatIsGoneOrAFolderIsIgnored) {
    ASSERT_TRUE(PlaceFile(places().localPrograms, 100));
    state_.rustDeskPath = temporary_ / L"removed\\rustdesk.exe";
    EXPECT_EQ(LocateRustDesk(state_, nullptr), places().localPrograms);
    state_.rustDeskPath = temporary_.path();
    EXPECT_EQ(LocateRustDesk(state_, nullptr), places().localPrograms);
    EXPECT_EQ(state_.rustDeskPath, temporary_.path());  // not rewritten by a search
}

TEST_F(LocateRustDeskTest, EarlierDownloadNeverWinsOverAnInstalledCopy) {
    ASSERT_TRUE(PlaceFile(places().shared, 2 * kMiB));
    ASSERT_TRUE(PlaceFile(places().programFilesX86, 100));
    state_.rustDeskPath = places().shared;
    EXPECT_EQ(LocateRustDesk(state_, nullptr), places().programFilesX86);
}

TEST_F(LocateRustDeskTest, EarlierDownloadAboveOneMebibyteIsReusedWithoutDownloading) {
    ASSERT_TRUE(PlaceFile(places().shared, kMiB + 1));
    state_.rustDeskPath = places().shared;
    EXPECT_EQ(LocateRustDesk(state_, nullptr), places().shared);
    // The shared directory is recognised in any letter case.
    state_.rustDeskPath = L"c:\\programdata\\OSTREVANE\\runtime\\rustdesk.exe";
    EXPECT_EQ(LocateRustDesk(state_, nullptr), state_.rustDeskPath);
    EXPECT_FALSE(SettingsFileExists());
}

TEST_F(LocateRustDeskTest, EarlierDownloadOfOneMebibyteOrLessIsNotTrusted) {
    ASSERT_TRUE(PlaceFile(places().shared, kMiB));
    state_.rustDeskPath = places().shared;
    EXPECT_EQ(LocateRustDesk(state_, nullptr), L"");
    EXPECT_EQ(FetchRustDesk(state_, nullptr), L"");
}

TEST_F(LocateRustDeskTest, BigFileAtTheSharedPlaceCountsOnlyThroughTheRememberedPath) {
    // Without a download to make, the remembered path is the only way an earlier file is found.
    ASSERT_TRUE(PlaceFile(places().shared, 2 * kMiB));
    EXPECT_EQ(LocateRustDesk(state_, nullptr), L"");
}

TEST_F(LocateRustDeskTest, FetchPreparesTheSharedDirectoryAndDropsAStalePartialFile) {
    ASSERT_TRUE(PlaceFile(places().sharedPartial, 5000));
    EXPECT_EQ(FetchRustDesk(state_, nullptr), L"");
    EXPECT_EQ(GetFileAttributesW(places().sharedPartial.c_str()), INVALID_FILE_ATTRIBUTES);
    const DWORD attributes = GetFileAttributesW(SharedRuntimeDirectory().c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(LocateRustDeskTest, NoUsableDownloadAddressGivesNothing) {
    for (const wchar_t* server : {LR"({})", LR"({"windowsDownloadUrl":""})", LR"({"windowsDownloadUrl":"  "})",
                                  LR"({"windowsDownloadUrl":42})", LR"("http://127.0.0.1:1/x.exe")"}) {
        const JsonValue description = ParseJsonDocument(server);
        EXPECT_EQ(LocateRustDesk(state_, &description), L"") << server;
    }
    EXPECT_FALSE(SettingsFileExists());
}

// Without the test account counted as an administrator, Wine shows every folder as the user's:
// what standard users could change is never chosen, and the shared directory is refused.
class UntrustedPlacesTest : public LocateRustDeskTest {
protected:
    void SetUp() override {
        LocateRustDeskTest::SetUp();
        TrustCurrentAccountForTesting(false);
    }
};

TEST_F(UntrustedPlacesTest, InstallPlacesAndTheRememberedPathThatUsersCanChangeAreSkipped) {
    ASSERT_TRUE(PlaceFile(places().programFiles, 100));
    ASSERT_TRUE(PlaceFile(temporary_ / L"rustdesk.exe", 100));
    state_.rustDeskPath = temporary_ / L"rustdesk.exe";
    std::wstring problem;
    EXPECT_EQ(LocateRustDesk(state_, nullptr, &problem), L"");
    TrustCurrentAccountForTesting(true);
    EXPECT_EQ(LocateRustDesk(state_, nullptr), state_.rustDeskPath) << "the same places, trusted";
}

TEST_F(UntrustedPlacesTest, AnEarlierDownloadInARefusedSharedDirectoryIsNotAdoptedAndTheUserIsTold) {
    ASSERT_TRUE(PlaceFile(places().shared, 2 * kMiB));
    state_.rustDeskPath = places().shared;
    std::wstring problem;
    EXPECT_EQ(LocateRustDesk(state_, nullptr, &problem), L"");
    EXPECT_EQ(problem, std::wstring(kUntrustedSharedDirectoryText) + L"C:\\ProgramData\\Ostrevane\\Runtime");
}

TEST_F(LocateRustDeskTest, OnlyTheSharedDirectorysOwnDownloadIsReusedNotAPathThatMerelyContainsIt) {
    const std::wstring lookalike = L"C:\\ProgramData\\Ostrevane\\Runtime2\\rustdesk.exe";
    ASSERT_TRUE(PlaceFile(lookalike, 2 * kMiB));
    state_.rustDeskPath = lookalike;
    EXPECT_EQ(LocateRustDesk(state_, nullptr), L"");
    DeleteFileW(lookalike.c_str());
    RemoveDirectoryW(L"C:\\ProgramData\\Ostrevane\\Runtime2");
}

}  // namespace
}  // namespace ostrevane::testing
