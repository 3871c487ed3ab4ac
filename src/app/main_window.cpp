#include "app/main_window.h"

#include <dwmapi.h>
#include <pthread.h>
#include <windowsx.h>

#include "app/activity_log.h"
#include "app/log_file.h"
#include "app/paint_scene.h"
#include "app/painting.h"
#include "app/retry_rule.h"
#include "app/single_instance.h"
#include "app/window_commands.h"
#include "app/window_controls.h"
#include "app/window_layout.h"
#include "control/http_transport.h"
#include "settings/settings_file.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane {
namespace {

constexpr DWORD kUseImmersiveDarkMode = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE
constexpr RECT kConnectionCardRect{kConnectionCard.left, kConnectionCard.top, kConnectionCard.right, kConnectionCard.bottom};
constexpr DWORD kWorkerExitWaitMs = 2000;

MainWindow* RecordOf(HWND window) { return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

LRESULT OnCreate(HWND window, const CREATESTRUCTW& create) {
    auto* record = static_cast<MainWindow*>(create.lpCreateParams);
    if (record == nullptr) {
        return -1;
    }
    record->window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
    CreateFontsAndBrushes(*record);
    const BOOL dark = TRUE;
    DwmSetWindowAttribute(window, kUseImmersiveDarkMode, &dark, sizeof(dark));
    CreateControls(*record, create.hInstance);
    LoadClientState(record->state);
    ShowStateInControls(*record);
    LayoutControls(*record);
    LogActivity(*record, L"客户端启动中");
    SetTimer(window, kSidebarTimerId, kSidebarPeriodMs, nullptr);
    return 0;
}

// True when the worker ended within kWorkerExitWaitMs. Messages sent to this thread are answered
// meanwhile: the worker's clean-up broadcasts WM_SETTINGCHANGE to every window, this one included,
// and would otherwise wait for it until the broadcast's time-out.
bool WaitForWorkerExit(HANDLE thread) {
    const ULONGLONG deadline = GetTickCount64() + kWorkerExitWaitMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD remaining = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, remaining, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0) {
            return true;
        }
        if (woken != WAIT_OBJECT_0 + 1) {
            return false;  // the time is up, or the wait failed
        }
        MSG sent{};
        PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // answers the sent messages
    }
}

void OnDestroy(MainWindow& record) {
    KillTimer(record.window, kSidebarTimerId);
    KillTimer(record.window, kRetryTimerId);
    record.retryTimerArmed = false;
    // A worker may be waiting on the network: its HTTP request is cancelled and the tunnel's
    // start aborted, so it ends at once. Waiting longer than 2 s would only freeze a closing window.
    CancelHttpRequests();
    if (record.engine) {
        record.engine->Stop();
    }
    if (record.worker.joinable()) {
        const auto thread = static_cast<HANDLE>(pthread_gethandle(record.worker.native_handle()));
        if (thread != nullptr && !WaitForWorkerExit(thread)) {
            // Still inside something that cannot be cancelled: the engine and the state it
            // uses must not be destroyed under it, so the process ends here.
            WriteLogLine(L"Worker still running at exit; the process ends without it.");
            ExitProcess(0);
        }
        record.worker.join();
    }
    record.worker = std::thread();
    AllowHttpRequestsAgain();  // no worker is left; a window made after this one may ask again
    // A completion posted while the window waited is not shown; only its text is freed.
    MSG pending{};
    while (PeekMessageW(&pending, record.window, WM_WORKER_DONE, WM_WORKER_DONE, PM_REMOVE)) {
        TakeWorkerMessage(pending.lParam);
    }
    record.fonts = WindowFonts{};
    record.brushes = WindowBrushes{};
    PostQuitMessage(0);
}

void OnPaint(MainWindow& record) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(record.window, &paint);
    RECT client{};
    GetClientRect(record.window, &client);
    PaintModel model;
    model.clientWidth = client.right;
    model.clientHeight = client.bottom;
    model.selectedPage = record.selectedPage;
    model.deviceNumber = record.state.deviceNumber;
    model.assignedAddress = record.state.assignedAddress;
    model.routesText = record.state.routesText;
    model.targetNetwork = record.state.targetNetwork;
    model.running = record.engine && record.engine->running();
    model.relayConnected = record.engine && record.engine->relayConnected();
    PaintMainWindow(dc, model, record.fonts);
    RECT drawn{};
    if (IntersectRect(&drawn, &paint.rcPaint, &kConnectionCardRect)) {
        record.paintedConnection = {model.running, model.relayConnected};
    }
    EndPaint(record.window, &paint);
}

// The engine's flags change on its own threads without telling the window: compare them with what
// the connection card shows, and repaint the card only when they differ.
void WatchConnection(MainWindow& record) {
    const PaintedConnection now{record.engine && record.engine->running(), record.engine && record.engine->relayConnected()};
    if (now != record.paintedConnection) {
        InvalidateRect(record.window, &kConnectionCardRect, FALSE);
    }
}

void ReportMinimumSize(HWND window, MINMAXINFO& info) {
    // Arrives before WM_CREATE too; without a record the window's own monitor decides.
    const MainWindow* record = RecordOf(window);
    const RECT work = record != nullptr ? record->workAreaOf(window) : MonitorWorkArea(window);
    const TrackSize minimum = MinimumTrackSize(work.right - work.left, work.bottom - work.top);
    info.ptMinTrackSize = {minimum.width, minimum.height};
}

bool OnTabClick(MainWindow& record, LPARAM point) {
    const auto page = TabAt(GET_X_LPARAM(point), GET_Y_LPARAM(point));
    if (!page) {
        return false;
    }
    record.selectedPage = *page;
    LayoutControls(record);
    InvalidateRect(record.window, nullptr, TRUE);
    return true;
}

}  // namespace

RECT MonitorWorkArea(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return RECT{};  // unknown: the designed sizes stand
    }
    return monitor.rcWork;
}

MainWindow::MainWindow() = default;

MainWindow::~MainWindow() = default;

HWND MainWindow::Control(int id) const {
    const int index = ControlIndex(id);
    return index >= 0 ? controls[static_cast<std::size_t>(index)] : nullptr;
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(kBackgroundColor);  // lives as long as the class
    windowClass.lpszClassName = kMainWindowClassName;
    return RegisterClassW(&windowClass) != 0;
}

HWND CreateMainWindow(HINSTANCE instance, MainWindow& record) {
    return CreateWindowExW(0, record.className.c_str(), kMainWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           kInitialWindowWidth, kInitialWindowHeight, nullptr, nullptr, instance, &record);
}

void PlaceInitialWindow(const MainWindow& record) {
    RECT current{};
    GetWindowRect(record.window, &current);
    const RECT work = record.workAreaOf(record.window);
    ScreenRect wanted{current.left, current.top, current.left + kInitialWindowWidth, current.top + kInitialWindowHeight};
    if (work.right > work.left && work.bottom > work.top) {
        wanted = FitIntoWorkArea(wanted, {work.left, work.top, work.right, work.bottom});
    }
    SetWindowPos(record.window, nullptr, wanted.left, wanted.top, wanted.right - wanted.left, wanted.bottom - wanted.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETMINMAXINFO) {
        if (auto* info = reinterpret_cast<MINMAXINFO*>(lParam)) {
            ReportMinimumSize(window, *info);
        }
        return 0;
    }
    if (message == WM_CREATE) {
        return OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
    }
    MainWindow* record = RecordOf(window);
    if (record == nullptr) {
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
    case WM_SIZE:
        LayoutControls(*record);
        // The cards' edges follow the client size: what was drawn for the old size must all go.
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN:
        if (OnTabClick(*record, lParam)) {
            return 0;
        }
        break;
    case WM_PAINT:
        OnPaint(*record);
        return 0;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item != nullptr && item->CtlType == ODT_BUTTON) {
            DrawOwnerButton(*item, record->fonts);
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(ColorControl(message, reinterpret_cast<HDC>(wParam), record->brushes));
    case WM_COMMAND:
        if (HandleCommand(*record, wParam)) {
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == kSidebarTimerId) {
            WatchConnection(*record);
            return 0;
        }
        if (HandleTimer(*record, wParam)) {
            return 0;
        }
        break;
    case WM_BRING_TO_FRONT:
        ComeToFront(window);
        return 0;
    case WM_WORKER_DONE:
        FinishWorker(*record, lParam);
        return 0;
    case WM_DESTROY:
        OnDestroy(*record);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        record->window = nullptr;
        record->controls = {};
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace ostrevane
