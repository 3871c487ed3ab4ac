// The client executable run as a child process, as a user starts it: its main window found among
// the desktop's windows, its controls read and commands posted across the process boundary, and
// its exit awaited. A child still running at the end is closed, then killed.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/unique_handle.h"

namespace ostrevane::testing {

// build/<preset>/bin/Ostrevane.Client.exe (the genuine driver files) and
// build/<preset>/demo/Ostrevane.Client.exe (the stand-in driver that answers a DivertHarness).
std::wstring ClientExecutable();
std::wstring DemoClientExecutable();

class ClientProcess {
public:
    // Starts the program in the working directory; the environment is this process's.
    ClientProcess(const std::wstring& executable, const std::wstring& workingDirectory);
    ~ClientProcess();
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    bool started() const { return static_cast<bool>(process_); }
    bool running() const;

    // The main window once the process has created it; null when it did not within the time.
    HWND WaitForWindow(std::chrono::milliseconds timeout);
    HWND window() const { return window_; }

    std::wstring Text(int controlId) const;  // WM_GETTEXT across the process boundary
    void PostCommand(int controlId) const;   // WM_COMMAND as a click on the control sends it
    void Close() const;                      // WM_CLOSE, as the title bar's close button

    // The exit code, or nothing when the process still runs after the time.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout) const;

private:
    UniqueKernelHandle process_;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
};

}  // namespace ostrevane::testing
