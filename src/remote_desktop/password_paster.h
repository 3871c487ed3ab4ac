// Gets the one-time password into RustDesk's password prompt: waits for RustDesk's window,
// puts the password on the clipboard again, brings the window forward and, while it is the
// foreground window, types Ctrl+V and Enter; then takes the password off the clipboard (a minute
// later when it could not paste, so that the engineer can paste it by hand). Runs on its own
// detached thread; the search and the paste take about ten seconds at most.
#pragma once

#include <windows.h>

#include <string>

#include "remote_desktop/paste_steps.h"

namespace ostrevane {

// The state of one search over the top-level windows.
struct RustDeskWindowSearch {
    std::wstring id;              // the RustDesk ID searched for; may be empty
    std::wstring executableName;  // file name of the launched RustDesk; other programs' windows never match
    HWND window = nullptr;        // the window found
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

// The paster's work on the calling thread: searches, pastes and confirms, then empties the
// clipboard if it still holds the password. Returns whether the paste was confirmed with Enter.
// Never throws.
bool PastePassword(const PasteJob& job) noexcept;

// Runs PastePassword on a detached thread with its own copy of the job. False when the thread
// could not be started.
bool StartPasswordPaster(PasteJob job) noexcept;

}  // namespace ostrevane
