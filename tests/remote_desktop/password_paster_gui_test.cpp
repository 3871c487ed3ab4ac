// The password paster against the stand-in RustDesk and against windows of the test itself:
// which window is chosen, what is pasted, and that other programs' windows receive nothing.
#include "remote_desktop/password_paster.h"

#include <gtest/gtest.h>

#include <future>

#include "decoy_window.h"
#include "platform/paths.h"
#include "remote_desktop/clipboard.h"
#include "remote_desktop/launch_program.h"
#include "remote_desktop/rustdesk_window.h"
#include "standin_support.h"

namespace ostrevane {
namespace {

using namespace std::chrono_literals;
using testing::DecoyShow;
using testing::DecoyWindow;
using testing::PumpUntil;
using testing::StandinExecutable;
using testing::StandinSession;

std::wstring OwnExecutableName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return FileNameOf(path);
}

// The paster on its own thread, as the operation runs it, while this thread keeps the test's
// windows responsive (the paster reads their titles, which are messages to this thread).
class PasterThread {
public:
    explicit PasterThread(const PasteJob& job) : result_(std::async(std::launch::async, [job] { return PastePassword(job); })) {}

    bool finished() const { return result_.wait_for(0ms) == std::future_status::ready; }

    // Pumps until the paster has ended; its result.
    bool Result() {
        const bool ended = PumpUntil([&] { return finished(); }, 30s);
        EXPECT_TRUE(ended);
        return ended && result_.get();
    }

private:
    std::future<bool> result_;
};

bool PasteWhilePumping(const PasteJob& job) { return PasterThread(job).Result(); }

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool EnumeratedBefore(HWND first, HWND second) {
    const std::vector<HWND> windows = TopLevelWindows();
    const auto a = std::find(windows.begin(), windows.end(), first);
    const auto b = std::find(windows.begin(), windows.end(), second);
    return a != windows.end() && b != windows.end() && a < b;
}

TEST(FindRustDeskWindow, OnlyWindowsOfTheNamedExecutableCount) {
    DecoyWindow byId(L"318 402 775");
    DecoyWindow byName(L"RustDesk download page - Browser");
    RustDeskWindowSearch search{L"318 402 775", L"rustdesk.exe", nullptr};
    EXPECT_EQ(FindRustDeskWindow(search), nullptr);
    EXPECT_EQ(WindowExecutableName(byId.window()), OwnExecutableName());

    search.executableName = OwnExecutableName();
    EXPECT_NE(FindRustDeskWindow(search), nullptr);
}

TEST(FindRustDeskWindow, FirstMatchingWindowInEnumerationOrderWins) {
    DecoyWindow byId(L"Session 318 402 775");
    DecoyWindow byName(L"rustdesk");
    // Above the other one, put there rather than assumed from the order of creation.
    SetWindowPos(byName.window(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(EnumeratedBefore(byName.window(), byId.window()));
    RustDeskWindowSearch search{L"318 402 775", OwnExecutableName(), nullptr};
    EXPECT_EQ(FindRustDeskWindow(search), byName.window());
    EXPECT_EQ(search.window, byName.window());

    search.id = L"999";
    EXPECT_EQ(FindRustDeskWindow(search), byName.window());
}

TEST(FindRustDeskWindow, HiddenAndOwnedWindowsAreSkipped) {
    DecoyWindow owner(L"owner window");
    DecoyWindow owned(L"318 402 775", DecoyShow::Inactive, owner.window());
    DecoyWindow hidden(L"RustDesk 318 402 775", DecoyShow::Hidden);
    RustDeskWindowSearch search{L"318 402 775", OwnExecutableName(), nullptr};
    EXPECT_EQ(FindRustDeskWindow(search), nullptr);
    EXPECT_EQ(search.window, nullptr);

    SetWindowPos(hidden.window(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    EXPECT_EQ(FindRustDeskWindow(search), hidden.window());
}

TEST(PastePassword, PastesIntoTheStandinAndPressesEnter) {
    StandinSession standin;
    LaunchProgram(StandinExecutable(), {L"--connect", L"318 402 775"});
    ASSERT_NE(standin.WaitForWindow(L"318 402 775"), nullptr);
    CopyTextToClipboard(nullptr, L"something else");

    const PasteJob job{L"demo-8842", L"318 402 775", StandinExecutable(), {}};
    EXPECT_TRUE(PasteWhilePumping(job));
    ASSERT_TRUE(standin.WaitForLines(3, 10s));
    EXPECT_EQ(standin.Lines(), (std::vector<std::wstring>{L"args: \"--connect\" \"318 402 775\"",
                                                          L"pasted: demo-8842", L"enter: demo-8842"}));
    EXPECT_EQ(ReadClipboardText(), L"") << "the password does not stay on the clipboard";
}

TEST(PastePassword, AWindowOfAnotherProgramNamedRustDeskReceivesNothing) {
    StandinSession standin;
    // In the foreground, and at first the only windows whose titles name RustDesk or hold the id: by
    // title alone the paster would take one of them at its first search, whatever the order of the
    // windows. (The order is not used: under Wine without a window manager, another process's window
    // moves to the top whenever that process gets round to its activation, so it cannot be arranged.)
    DecoyWindow browser(L"RustDesk – remote desktop software - Browser", DecoyShow::Active);
    DecoyWindow sameId(L"Ticket 318 402 775 - Mail");
    PasteJob job{L"pw-1", L"318 402 775", L"C:\\Program Files\\RustDesk\\RustDesk.exe", {}};
    job.timing.attempts = 20;  // time for the stand-in to start on a loaded machine
    PasterThread paster(job);

    // RustDesk starts once a search has read both titles and gone past them.
    PumpUntil([&] { return (browser.titleReads() > 0 && sameId.titleReads() > 0) || paster.finished(); }, 15s);
    EXPECT_GT(browser.titleReads(), 0);
    EXPECT_GT(sameId.titleReads(), 0);
    EXPECT_FALSE(paster.finished()) << "the paster took a window of another program";
    LaunchProgram(StandinExecutable(), {L"--connect", L"318 402 775"});

    EXPECT_TRUE(paster.Result());
    ASSERT_TRUE(standin.WaitForLines(3, 10s));
    EXPECT_EQ(standin.Lines()[1], L"pasted: pw-1");
    EXPECT_EQ(standin.Lines()[2], L"enter: pw-1");
    PumpUntil([] { return false; }, 300ms);  // keys that went astray would arrive by now
    EXPECT_TRUE(browser.events().empty());
    EXPECT_TRUE(sameId.events().empty());
}

TEST(PastePassword, NoWindowWithinTheAttemptsMeansNothingIsPasted) {
    DecoyWindow browser(L"RustDesk - Browser", DecoyShow::Active);
    ASSERT_TRUE(CopySecretToClipboard(nullptr, L"pw-2"));  // as the operation leaves it
    PasteJob job{L"pw-2", L"777", L"rustdesk.exe", {}};
    job.timing.attempts = 3;
    job.timing.searchInterval = 100ms;
    job.timing.keptForHand = 100ms;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(PasteWhilePumping(job));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    PumpUntil([] { return false; }, 300ms);
    EXPECT_TRUE(browser.events().empty());
    EXPECT_EQ(ReadClipboardText(), L"");
}

TEST(PasteTiming, DefaultsAreTenSearchesOf900MsThen180And120) {
    const PasteTiming timing;
    EXPECT_EQ(timing.attempts, 10);
    EXPECT_EQ(timing.searchInterval, 900ms);
    EXPECT_EQ(timing.beforePaste, 180ms);
    EXPECT_EQ(timing.beforeEnter, 120ms);
}

TEST(StartPasswordPaster, RunsDetachedAndPastes) {
    StandinSession standin;
    LaunchProgram(StandinExecutable(), {L"--connect", L"55 66"});
    ASSERT_NE(standin.WaitForWindow(L"55 66"), nullptr);
    PasteJob job{L"detached-pw", L"55 66", StandinExecutable(), {}};
    EXPECT_TRUE(StartPasswordPaster(std::move(job)));
    ASSERT_TRUE(standin.WaitForLines(3, 15s));
    EXPECT_EQ(standin.Lines()[1], L"pasted: detached-pw");
    EXPECT_EQ(standin.Lines()[2], L"enter: detached-pw");
}

}  // namespace
}  // namespace ostrevane
