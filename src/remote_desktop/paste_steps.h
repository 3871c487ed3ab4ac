// The order of the paster's steps, apart from the Win32 calls that carry them out: Ctrl+V and
// Enter go only to the window found, and only while it is the foreground window, because a
// refused SetForegroundWindow would otherwise send the password and an Enter wherever the
// engineer is typing.
#pragma once

#include <windows.h>

#include <chrono>

namespace ostrevane {

struct PasteTiming {
    int attempts = 10;                               // searches and foreground tries, together
    std::chrono::milliseconds searchInterval{900};  // before each attempt
    std::chrono::milliseconds beforePaste{180};     // after bringing the window forward
    std::chrono::milliseconds beforeEnter{120};
    std::chrono::milliseconds beforeClearing{2000};  // time for RustDesk to read the clipboard
    std::chrono::milliseconds keptForHand{60000};    // when not pasted: time to paste it by hand
};

// What the steps do to the desktop; the paster's implementation calls Win32, a test scripts it.
class PasteDesk {
public:
    virtual ~PasteDesk() = default;
    virtual HWND FindRustDesk() = 0;  // one search; null when there is no window yet
    virtual bool PutPasswordOnClipboard() = 0;
    virtual void BringForward(HWND window) = 0;
    virtual HWND ForegroundWindow() = 0;
    virtual void SendPaste() = 0;  // Ctrl+V
    virtual void SendEnter() = 0;
    virtual void Wait(std::chrono::milliseconds duration) = 0;
};

// Searches until a window is found, then brings it forward and pastes once it is the foreground
// window, then confirms with Enter once it still (or again) is. Every retry takes one of the
// attempts, so the whole stays within the time of the search. True when Enter was sent.
bool RunPasteSteps(PasteDesk& desk, const PasteTiming& timing);

}  // namespace ostrevane
