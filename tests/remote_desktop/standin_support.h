// The stand-in RustDesk built beside the tests: its executable, its record of what it saw,
// and finding and closing its windows. Also a bounded message pump for windows of the test.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "remote_desktop/password_paster.h"
#include "settings/text_utils.h"

namespace ostrevane::testing {

inline constexpr wchar_t kStandinClass[] = L"OstrevaneRemoteDesktopStandin";

inline std::wstring StandinExecutable() { return OSTREVANE_BINARY_DIR_W L"\\rustdesk_standin\\rustdesk.exe"; }

// Processes this thread's messages until the condition holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Top-level windows of the stand-in's class, in enumeration order.
inline std::vector<HWND> StandinWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (std::wstring(name) == kStandinClass) {
                reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

inline std::wstring TitleOf(HWND window) {
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    return title;
}

// A fresh record file for the stand-ins started while it lives (through the environment that
// started programs inherit); closes every stand-in window when it ends.
class StandinSession {
public:
    StandinSession() {
        wchar_t base[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, base);
        static int counter = 0;
        logPath_ = std::wstring(base) + L"ostrevane-standin-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(++counter) + L".log";
        DeleteFileW(logPath_.c_str());
        SetEnvironmentVariableW(L"OSTREVANE_RUSTDESK_STANDIN_LOG", logPath_.c_str());
    }
    StandinSession(const StandinSession&) = delete;
    StandinSession& operator=(const StandinSession&) = delete;
    ~StandinSession() {
        CloseAll();
        SetEnvironmentVariableW(L"OSTREVANE_RUSTDESK_STANDIN_LOG", nullptr);
        DeleteFileW(logPath_.c_str());
    }

    std::vector<std::wstring> Lines() const {
        std::vector<std::wstring> lines;
        const std::wstring text = Utf8ToWide(ReadFileBytes(logPath_).value_or(""));
        std::size_t start = 0;
        for (std::size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }

    // Waits (pumping this thread's messages) until the record holds `count` lines.
    bool WaitForLines(std::size_t count, std::chrono::milliseconds limit) const {
        return PumpUntil([&] { return Lines().size() >= count; }, limit);
    }

    // Waits for a visible stand-in window with this title.
    HWND WaitForWindow(const std::wstring& title, std::chrono::milliseconds limit = std::chrono::seconds(15)) const {
        HWND found = nullptr;
        PumpUntil(
            [&] {
                for (HWND window : StandinWindows()) {
                    if (IsWindowVisible(window) && TitleOf(window) == title) {
                        found = window;
                        return true;
                    }
                }
                return false;
            },
            limit);
        return found;
    }

    // Asks every stand-in window to close and waits until their processes have ended, so that
    // the executable can be deleted afterwards.
    static void CloseAll() {
        std::vector<HANDLE> processes;
        for (HWND window : StandinWindows()) {
            DWORD processId = 0;
            GetWindowThreadProcessId(window, &processId);
            if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId)) {
                processes.push_back(process);
            }
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        PumpUntil([] { return StandinWindows().empty(); }, std::chrono::seconds(10));
        for (HANDLE process : processes) {
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }

private:
    std::wstring logPath_;
};

}  // namespace ostrevane::testing
