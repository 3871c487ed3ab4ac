// Gets the one-time password into RustDesk's password prompt: waits for RustDesk's window,
// puts the password on the clipboard again, brings the window forward and types Ctrl+V and
// Enter. Runs on its own detached thread, for about ten seconds at most.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace ostrevane {

// The state of one search over the top-level windows.
struct RustDeskWindowSearch {
    std::wstring id;              // the RustDesk ID searched for; may be empty
    std::wstring executableName;  // file name of the launched RustDesk; other programs' windows never match
    HWND window = nullptr;        // the window found
};

struct PasteTiming {
    int attempts = 10;
    std::chrono::milliseconds searchInterval{900};  // before each search
    std::chrono::milliseconds beforePaste{180};     // after bringing the window forward
    std::chrono::milliseconds beforeEnter{120};
};

struct PasteJob {
    std::wstring password;
    std::wstring rustDeskId;
    std::wstring executablePath;  // the RustDesk that was launched
    PasteTiming timing;
};

// One pass over the top-level windows: the first visible, unowned window, in enumeration order,
// whose title matches (the ID before the name, per window) and whose process runs an executable
// of the searched file name. Returns the window found, also stored in `search.window`.
HWND FindRustDeskWindow(RustDeskWindowSearch& search);

// The file name of the executable of the process that owns the window; empty when unknown.
std::wstring WindowExecutableName(HWND window);

// The paster's work on the calling thread: searches, pastes and confirms. Returns whether a
// window was found and the keys were sent. Never throws.
bool PastePassword(const PasteJob& job) noexcept;

// Runs PastePassword on a detached thread with its own copy of the job. False when the thread
// could not be started.
bool StartPasswordPaster(PasteJob job) noexcept;

}  // namespace ostrevane
