#include "app/application.h"

#include <commctrl.h>

#include "app/log_file.h"
#include "app/main_window.h"
#include "app/runtime_cache.h"
#include "app/single_instance.h"
#include "app/window_layout.h"
#include "control/proxy_bypass.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane {
namespace {

int RunMessageLoop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(static_cast<DWORD>(message.wParam));
}

}  // namespace

int RunClient(HINSTANCE instance, int showCommand) {
    const InstanceLock instanceLock;
    if (!instanceLock.held()) {
        BringFirstInstanceToFront();
        return 0;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    InitializeLogFile();
    WriteLogLine(L"Ostrevane.Client starting. Log file: " + LogFilePath());
    PrepareDriverRuntime();
    // Bypass entries that an earlier run added and could not take out (it crashed or was killed).
    if (const std::wstring leftover = RemoveProxyBypass(); !leftover.empty()) {
        WriteLogLine(leftover);
    }

    MainWindow record;
    record.engine = std::make_unique<TunnelEngine>();

    int exitCode = 1;
    HWND window = RegisterMainWindowClass(instance) ? CreateMainWindow(instance, record) : nullptr;
    if (window != nullptr) {
        // The window reports a larger minimum height, so the system may grow it on the way; a small
        // work area lowers that minimum, and the window is kept inside it.
        PlaceInitialWindow(record);
        ShowWindow(window, showCommand);
        UpdateWindow(window);
        exitCode = RunMessageLoop();
    }
    // WM_DESTROY has joined any worker; the engine goes before the state, on both paths.
    record.engine.reset();
    return exitCode;
}

}  // namespace ostrevane
