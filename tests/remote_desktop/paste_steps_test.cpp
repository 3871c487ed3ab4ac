// The paster's steps against a scripted desktop: Windows may refuse the foreground to a
// background thread (Wine never does), and then nothing may be typed.
#include "remote_desktop/paste_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrevane {
namespace {

const HWND kRustDesk = reinterpret_cast<HWND>(0x1010);
const HWND kMail = reinterpret_cast<HWND>(0x2020);

// Answers each question from a script; records what was sent.
class ScriptedDesk final : public PasteDesk {
public:
    int searchesWithoutWindow = 0;
    std::vector<HWND> foreground;  // one answer per question, then kRustDesk; kMail stands for any other
    int clipboardRefusals = 0;
    std::vector<std::string> sent;
    int waits = 0;

    HWND FindRustDesk() override { return searchesWithoutWindow-- > 0 ? nullptr : kRustDesk; }
    bool PutPasswordOnClipboard() override { return clipboardRefusals-- <= 0; }
    void BringForward(HWND) override {}
    HWND ForegroundWindow() override {
        const std::size_t index = questions_++;
        const HWND answer = index < foreground.size() ? foreground[index] : kRustDesk;
        sent.push_back(answer == kRustDesk ? "checked" : "refused");
        return answer;
    }
    void SendPaste() override { sent.push_back("paste"); }
    void SendEnter() override { sent.push_back("enter"); }
    void Wait(std::chrono::milliseconds) override { ++waits; }

private:
    std::size_t questions_ = 0;
};

using Steps = std::vector<std::string>;

TEST(RunPasteSteps, PastesAndConfirmsWhileRustDeskHasTheForeground) {
    ScriptedDesk desk;
    EXPECT_TRUE(RunPasteSteps(desk, PasteTiming{}));
    EXPECT_EQ(desk.sent, (Steps{"checked", "paste", "checked", "enter"}));
}

TEST(RunPasteSteps, TypesNothingWhileAnotherWindowKeepsTheForeground) {
    ScriptedDesk desk;
    desk.foreground.assign(100, kMail);
    EXPECT_FALSE(RunPasteSteps(desk, PasteTiming{}));
    EXPECT_EQ(desk.sent, Steps(10, "refused")) << "one try per attempt, then it gives up";
}

TEST(RunPasteSteps, TriesAgainWithinTheAttemptsUntilTheForegroundIsGranted) {
    ScriptedDesk desk;
    desk.searchesWithoutWindow = 2;
    desk.foreground = {kMail, kMail};
    EXPECT_TRUE(RunPasteSteps(desk, PasteTiming{}));
    EXPECT_EQ(desk.sent, (Steps{"refused", "refused", "checked", "paste", "checked", "enter"}));
    EXPECT_EQ(desk.waits, 2 + 3 * 2 + 1) << "two searches, three tries that each let the window settle, and Enter";
}

TEST(RunPasteSteps, AForegroundLostAfterThePasteGetsOnlyTheEnterLater) {
    ScriptedDesk desk;
    desk.foreground = {kRustDesk, kMail, kMail};
    EXPECT_TRUE(RunPasteSteps(desk, PasteTiming{}));
    EXPECT_EQ(desk.sent, (Steps{"checked", "paste", "refused", "refused", "checked", "enter"}))
        << "the password is pasted once, and Enter goes nowhere else";
}

TEST(RunPasteSteps, GivesUpWithoutAWindowOrAClipboardWithinTheAttempts) {
    ScriptedDesk noWindow;
    noWindow.searchesWithoutWindow = 10;
    EXPECT_FALSE(RunPasteSteps(noWindow, PasteTiming{}));
    EXPECT_TRUE(noWindow.sent.empty());

    ScriptedDesk busyClipboard;
    busyClipboard.clipboardRefusals = 9;
    EXPECT_TRUE(RunPasteSteps(busyClipboard, PasteTiming{}));
    busyClipboard.clipboardRefusals = 10;
    busyClipboard.sent.clear();
    EXPECT_FALSE(RunPasteSteps(busyClipboard, PasteTiming{}));
    EXPECT_TRUE(busyClipboard.sent.empty());
}

}  // namespace
}  // namespace ostrevane
