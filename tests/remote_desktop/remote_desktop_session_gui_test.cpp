// The whole remote-desktop command against the reference service, with the stand-in RustDesk
// served by the service as the Windows download (padded above 1 MiB): the request, the download,
// the configuration of every profile, the command line, the pasted password and Enter, the
// messages, and what is saved.
#include "remote_desktop/remote_desktop_session.h"

#include <gtest/gtest.h>

#include <span>

#include "decoy_window.h"
#include "platform/paths.h"
#include "remote_desktop/clipboard.h"
#include "remote_desktop/rustdesk_config.h"
#include "remote_desktop_scenario.h"
#include "rustdesk_places.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "standin_support.h"
#include "support/reference_service.h"
#include "support/state_guards.h"

namespace ostrevane::testing {
namespace {

using namespace std::chrono_literals;

// The stand-in as the download: its bytes at the start of a generated 2 MiB file.
std::string StandinDownload() {
    const std::optional<std::string> program = ostrevane::ReadFileBytes(StandinExecutable());
    EXPECT_TRUE(program.has_value());
    const std::string bytes = program.value_or("MZ");
    const std::string encoded =
        Base64Encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return R"({"/downloads/rustdesk.exe":{"size":2097152,"prefixBase64":")" + encoded + R"("}})";
}

class RemoteDesktopSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServiceData(L"POST", L"/admin/reset", "{}");
        state_.serverUrl = ServiceUrl();
        state_.deviceNumber = L"SITE-0001";
        state_.deviceSecret = L"OVK-DEMO-7F3A-2C91-5E08";
        ASSERT_TRUE(StandinWindows().empty());
    }
    void TearDown() override { ServiceData(L"POST", L"/admin/reset", "{}"); }

    void Answer(const std::string& remoteDesktop) { PostScenario(RemoteDesktopScenario(remoteDesktop, StandinDownload())); }

    std::wstring Run() {
        std::wstring message;
        OpenRemoteDesktop(state_, nullptr, message);
        return message;
    }

    // Declared first so that the stand-in has ended before its downloaded copy is removed.
    SettingsFileGuard settings_;
    EmptiedRustDeskPlaces emptied_;
    std::vector<std::unique_ptr<FileSnapshot>> configs_ = SnapshotFiles(RustDeskConfigPaths());
    StandinSession standin_;
    ClientState state_;
};

TEST_F(RemoteDesktopSessionTest, DownloadsConfiguresStartsAndPastesThePassword) {
    Answer(R"({"rustDeskId":"318 402 775","accessPassword":"demo-8842","server":)" + DemoRemoteDesktopServer() + "}");
    // Another program's window that mentions RustDesk, above everything and in the foreground.
    DecoyWindow browser(L"Download RustDesk - Browser", DecoyShow::Active);

    EXPECT_EQ(Run(), L"远程桌面已打开：318 402 775，访问密码已复制。");
    const std::wstring downloaded = emptied_.places.shared;

    // The request with the engineer id made for it, then the download.
    ASSERT_EQ(state_.engineerId.size(), 12u);
    const std::vector<RecordedCall> calls = RecordedCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "POST");
    EXPECT_EQ(calls[0].target, "/api/devices/SITE-0001/remote-desktop/session");
    EXPECT_EQ(calls[0].body, R"({"deviceNumber":"SITE-0001","deviceSecret":"OVK-DEMO-7F3A-2C91-5E08","engineerId":")" +
                                 WideToUtf8(state_.engineerId) + R"("})");
    EXPECT_EQ(calls[1].method, "GET");
    EXPECT_EQ(calls[1].target, "/downloads/rustdesk.exe");
    EXPECT_EQ(RegularFileSize(downloaded), 2097152u);

    // Every profile folder configured with the session's servers.
    for (const auto& config : configs_) {
        EXPECT_EQ(ReadFileBytes(config->path()), std::string(kDemoRustDeskConfig)) << config->path().c_str();
    }

    // Started with the id; the password is pasted into its window and confirmed.
    ASSERT_TRUE(standin_.WaitForLines(3, 15s));
    EXPECT_EQ(standin_.Lines(), (std::vector<std::wstring>{L"args: \"--connect\" \"318 402 775\"", L"pasted: demo-8842",
                                                           L"enter: demo-8842"}));
    EXPECT_TRUE(PumpUntil([] { return ReadClipboardText().empty(); }, 15s))
        << "once pasted, the password is taken off the clipboard";
    PumpUntil([] { return false; }, 300ms);
    EXPECT_TRUE(browser.events().empty());

    // The executable used and the engineer id are saved.
    ClientState saved;
    LoadClientState(saved);
    EXPECT_EQ(saved.rustDeskPath, downloaded);
    EXPECT_EQ(saved.engineerId, state_.engineerId);
    EXPECT_EQ(saved.rustDeskId, L"");  // the session's id and password are not stored
    EXPECT_EQ(saved.rustDeskAccessPassword, L"");
}

TEST_F(RemoteDesktopSessionTest, WithoutAnIdRustDeskStartsWithoutArguments) {
    Answer(R"({"accessPassword":"pw-no-id","server":)" + DemoRemoteDesktopServer() + "}");
    state_.engineerId = L"ENG-12345678";
    EXPECT_EQ(Run(), L"远程桌面已打开：，访问密码已复制。");
    // The stand-in's own window is titled "RustDesk", which the paster accepts by name.
    ASSERT_TRUE(standin_.WaitForLines(3, 15s));
    EXPECT_EQ(standin_.Lines(),
              (std::vector<std::wstring>{L"args: ", L"pasted: pw-no-id", L"enter: pw-no-id"}));
}

TEST_F(RemoteDesktopSessionTest, WithoutAPasswordNothingIsCopiedOrPasted) {
    Answer(R"({"rustDeskId":"11 22","accessPassword":17,"server":)" + DemoRemoteDesktopServer() + "}");
    state_.engineerId = L"ENG-12345678";
    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"engineer's own text"));
    EXPECT_EQ(Run(), L"远程桌面已打开：11 22。");
    ASSERT_NE(standin_.WaitForWindow(L"11 22"), nullptr);
    // A paster would have pasted within about 1.2 s of the start.
    PumpUntil([] { return false; }, 3s);
    EXPECT_EQ(standin_.Lines(), std::vector<std::wstring>{L"args: \"--connect\" \"11 22\""});
    EXPECT_EQ(ReadClipboardText(), L"engineer's own text");
}

TEST_F(RemoteDesktopSessionTest, InstalledRustDeskIsPreferredAndAnswerWithoutServerWritesNoConfiguration) {
    Answer(R"({"rustDeskId":"5 6 7","accessPassword":"pw-5"})");
    ASSERT_TRUE(PlacePaddedCopy(StandinExecutable(), emptied_.places.programFilesX86, 1200000));
    state_.engineerId = L"ENG-12345678";
    EXPECT_EQ(Run(), L"远程桌面已打开：5 6 7，访问密码已复制。");
    ASSERT_TRUE(standin_.WaitForLines(3, 15s));
    EXPECT_EQ(standin_.Lines()[0], L"args: \"--connect\" \"5 6 7\"");
    EXPECT_EQ(standin_.Lines()[1], L"pasted: pw-5");
    for (const auto& config : configs_) {
        EXPECT_EQ(ReadFileBytes(config->path()), config->original()) << config->path().c_str();
    }
    EXPECT_EQ(RecordedCalls().size(), 1u);  // no download
    ClientState saved;
    LoadClientState(saved);
    EXPECT_EQ(saved.rustDeskPath, emptied_.places.programFilesX86);
}

}  // namespace
}  // namespace ostrevane::testing
