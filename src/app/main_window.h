// The one record behind the main window, its window class and its window procedure. The record
// lives on the entry point's stack for the whole message loop; the window finds it in its user
// data from WM_CREATE on.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "app/control_table.h"
#include "app/window_theme.h"
#include "app/worker_runner.h"
#include "settings/client_state.h"

namespace ostrevane {

class TunnelEngine;

inline constexpr wchar_t kMainWindowClassName[] = L"OstrevaneNativeWindow";
inline constexpr wchar_t kMainWindowTitle[] = L"Ostrevane.Client";

using WorkerThreadStarter = std::thread (*)(std::unique_ptr<WorkerContext> context);

// The work area of the monitor that holds most of the window.
RECT MonitorWorkArea(HWND window);
using WorkAreaSource = RECT (*)(HWND window);

// Watches the engine's flags so that the sidebar follows a relay drop or recovery by itself.
inline constexpr UINT_PTR kSidebarTimerId = 304;
inline constexpr UINT kSidebarPeriodMs = 500;

// What the sidebar's connection card was last painted from.
struct PaintedConnection {
    bool running = false;
    bool relayConnected = false;
    bool operator==(const PaintedConnection&) const = default;
};

// The texts of the controls that stay usable while a worker runs, as the worker found them.
struct EditableTexts {
    std::wstring accessKey;
    std::wstring profileName;
    std::wstring targetNetwork;
};

struct MainWindow {
    MainWindow();
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The child control with this id; null before WM_CREATE or for an unknown id.
    HWND Control(int id) const;

    HWND window = nullptr;                         // set on WM_CREATE, not owned
    std::array<HWND, kControlCount> controls{};    // in kControlTable order, destroyed with the window
    WindowFonts fonts;                             // created on WM_CREATE, deleted on WM_DESTROY
    WindowBrushes brushes;                         // likewise
    ClientState state;                             // the defaults until WM_CREATE loads the file
    std::unique_ptr<TunnelEngine> engine;          // the one engine; its address is the workers' slot
    std::atomic<bool> busy{false};                 // a worker operation runs
    std::uint8_t selectedPage = 0;                 // 0 connect, 1 log
    std::thread worker;                            // the one worker thread, joined before the next
    bool retryTimerArmed = false;                  // timer 303 runs
    std::wstring className = kMainWindowClassName;
    WorkerThreadStarter startWorkerThread = StartWorkerThread;  // tests put a refusing starter here
    PaintedConnection paintedConnection;           // set on each paint of the connection card
    EditableTexts textsAtWorkerStart;              // what the running worker was started with
    WorkAreaSource workAreaOf = MonitorWorkArea;   // tests put a smaller screen here
};

// Registers the window class; false when the system refuses it.
bool RegisterMainWindowClass(HINSTANCE instance);

// Creates the 1220 x 820 main window for the record (WM_CREATE builds the controls and loads the
// settings); null when creation failed.
HWND CreateMainWindow(HINSTANCE instance, MainWindow& record);

// Sizes the new window to 1220 x 820, or less on a smaller work area, and moves it inside that.
void PlaceInitialWindow(const MainWindow& record);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ostrevane
