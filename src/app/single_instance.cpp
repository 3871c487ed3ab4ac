#include "app/single_instance.h"

#include "app/main_window.h"

namespace ostrevane {

InstanceLock::InstanceLock() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    const DWORD error = GetLastError();
    mutex_.reset(mutex);
    // Opened rather than created: another client of this session holds it. A mutex that cannot be
    // made at all must not keep the engineer from working, so the run goes on as the only one.
    held_ = mutex == nullptr || error != ERROR_ALREADY_EXISTS;
}

void BringFirstInstanceToFront() {
    HWND first = FindWindowW(kMainWindowClassName, kMainWindowTitle);
    if (first == nullptr) {
        return;  // still starting, or closing: nothing to show
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(first, &processId);
    // The system lets a background process take the foreground only when the foreground owner allows it.
    AllowSetForegroundWindow(processId);
    PostMessageW(first, WM_BRING_TO_FRONT, 0, 0);
}

void ComeToFront(HWND window) {
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window);
}

}  // namespace ostrevane
