// Downloading RustDesk from the reference service into the shared runtime directory: absolute
// and relative addresses, the 1 MiB rule, error pages, failed transfers and earlier downloads.
#include "remote_desktop/locate_rustdesk.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "rustdesk_places.h"
#include "settings/json_parser.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "support/demo_scenario.h"
#include "support/reference_service.h"
#include "support/state_guards.h"

namespace ostrevane::testing {
namespace {

constexpr std::uint64_t kMiB = 1048576;

std::string Files() {
    const std::string page = "<!DOCTYPE html><html><body>" + std::string(4096 - 41, 'x') + "</body></html>";
    return R"({"/downloads/rustdesk.exe":{"size":2097152,"prefix":"MZ"},)"
           R"("/downloads/one-mib.exe":{"size":1048576,"prefix":"MZ"},)"
           R"("/downloads/just-over.exe":{"size":1048577,"prefix":"MZ"},)"
           R"("/downloads/error-page.exe":{"body":")" + page + R"("},)"
           R"("/downloads/missing.exe":{"status":404,"body":"<html>not found</html>"},)"
           R"("/downloads/cut.exe":{"size":2097152,"prefix":"MZ","truncateAt":600000}})";
}

std::vector<std::string> Downloads() {
    std::vector<std::string> targets;
    for (const RecordedCall& call : RecordedCalls()) {
        if (call.method == "GET") {
            targets.push_back(call.target);
        }
    }
    return targets;
}

ClientState SavedState() {
    ClientState saved;
    LoadClientState(saved);
    return saved;
}

class FetchRustDeskTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServiceData(L"POST", L"/admin/reset", "{}");
        PostScenario(DemoScenario("[]", Files()));
        state_.serverUrl = ServiceUrl();
        state_.engineerId = L"ENG-12345678";
    }
    void TearDown() override { ServiceData(L"POST", L"/admin/reset", "{}"); }

    std::wstring Locate(const std::wstring& address) {
        const JsonValue server = ParseJsonDocument(L"{\"windowsDownloadUrl\":" + JsonQuote(address) + L"}");
        return LocateRustDesk(state_, &server);
    }
    const RustDeskPlaces& places() const { return emptied_.places; }
    bool SettingsSaved() const { return GetFileAttributesW(SettingsFilePath().c_str()) != INVALID_FILE_ATTRIBUTES; }

    SettingsFileGuard settings_;
    EmptiedRustDeskPlaces emptied_;
    ClientState state_;
};

TEST_F(FetchRustDeskTest, AbsoluteAddressIsDownloadedAdoptedAndSaved) {
    EXPECT_EQ(Locate(ServiceUrl() + L"/downloads/rustdesk.exe"), places().shared);
    EXPECT_EQ(Downloads(), std::vector<std::string>{"/downloads/rustdesk.exe"});
    EXPECT_EQ(RegularFileSize(places().shared), 2 * kMiB);
    EXPECT_EQ(GetFileAttributesW(places().sharedPartial.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(state_.rustDeskPath, places().shared);
    EXPECT_EQ(SavedState().rustDeskPath, places().shared);
    EXPECT_EQ(SavedState().engineerId, L"ENG-12345678");
}

TEST_F(FetchRustDeskTest, RelativeAddressesAreFetchedFromTheBaseUrlsHostAndPort) {
    state_.serverUrl = L"  " + ServiceUrl() + L"/ ";
    EXPECT_EQ(Locate(L"/downloads/rustdesk.exe"), places().shared);
    DeleteFileW(places().shared.c_str());
    state_.rustDeskPath.clear();
    EXPECT_EQ(Locate(L" downloads/just-over.exe "), places().shared);
    EXPECT_EQ(Downloads(), (std::vector<std::string>{"/downloads/rustdesk.exe", "/downloads/just-over.exe"}));
    EXPECT_EQ(RegularFileSize(places().shared), kMiB + 1);
}

TEST_F(FetchRustDeskTest, ExactlyOneMebibyteIsNotAccepted) {
    EXPECT_EQ(Locate(L"/downloads/one-mib.exe"), L"");
    EXPECT_EQ(RegularFileSize(places().shared), kMiB);  // left where it landed, but not adopted
    EXPECT_EQ(state_.rustDeskPath, L"");
    EXPECT_FALSE(SettingsSaved());
}

TEST_F(FetchRustDeskTest, ErrorPageWithStatus200IsRefused) {
    EXPECT_EQ(Locate(L"/downloads/error-page.exe"), L"");
    EXPECT_EQ(RegularFileSize(places().shared), 4096u);
    EXPECT_EQ(state_.rustDeskPath, L"");
    EXPECT_FALSE(SettingsSaved());
}

TEST_F(FetchRustDeskTest, FailedDownloadWithoutEarlierFileFindsNothing) {
    EXPECT_EQ(Locate(L"/downloads/missing.exe"), L"");
    EXPECT_EQ(GetFileAttributesW(places().shared.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Downloads(), std::vector<std::string>{"/downloads/missing.exe"});
}

TEST_F(FetchRustDeskTest, FailedDownloadAdoptsAnOlderBigEnoughFile) {
    ASSERT_TRUE(PlaceFile(places().shared, 3 * kMiB));
    EXPECT_EQ(Locate(L"/downloads/missing.exe"), places().shared);
    EXPECT_EQ(RegularFileSize(places().shared), 3 * kMiB);
    EXPECT_EQ(SavedState().rustDeskPath, places().shared);
}

TEST_F(FetchRustDeskTest, InterruptedDownloadKeepsTheOlderFile) {
    ASSERT_TRUE(PlaceFile(places().shared, 3 * kMiB));
    EXPECT_EQ(Locate(L"/downloads/cut.exe"), places().shared);
    EXPECT_EQ(RegularFileSize(places().shared), 3 * kMiB);
    EXPECT_EQ(GetFileAttributesW(places().sharedPartial.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FetchRustDeskTest, RememberedDownloadAboveOneMebibyteIsReusedWithoutARequest) {
    ASSERT_TRUE(PlaceFile(places().shared, kMiB + 1));
    state_.rustDeskPath = places().shared;
    EXPECT_EQ(Locate(L"/downloads/rustdesk.exe"), places().shared);
    EXPECT_TRUE(Downloads().empty());
    EXPECT_EQ(RegularFileSize(places().shared), kMiB + 1);
}

TEST_F(FetchRustDeskTest, RememberedDownloadOfOneMebibyteIsReplaced) {
    ASSERT_TRUE(PlaceFile(places().shared, kMiB));
    state_.rustDeskPath = places().shared;
    EXPECT_EQ(Locate(L"/downloads/rustdesk.exe"), places().shared);
    EXPECT_EQ(Downloads(), std::vector<std::string>{"/downloads/rustdesk.exe"});
    EXPECT_EQ(RegularFileSize(places().shared), 2 * kMiB);
}

TEST_F(FetchRustDeskTest, InstalledCopyMeansNoDownload) {
    ASSERT_TRUE(PlaceFile(places().programFiles, 10));
    EXPECT_EQ(Locate(L"/downloads/rustdesk.exe"), places().programFiles);
    EXPECT_TRUE(Downloads().empty());
    EXPECT_FALSE(SettingsSaved());
}

TEST_F(FetchRustDeskTest, AnAddressThatCannotBeSplitRaisesTheTransportError) {
    EXPECT_THROW(Locate(L"http://127.0.0.1:99999999/x.exe"), std::runtime_error);
    EXPECT_TRUE(Downloads().empty());
}

}  // namespace
}  // namespace ostrevane::testing
