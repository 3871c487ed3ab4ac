// One client per user session: the first start holds a named mutex for as long as it runs; a
// later start finds it held, brings the first window to the front and ends without touching
// anything else (the settings file in particular, which every command rewrites whole).
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace ostrevane {

inline constexpr wchar_t kInstanceMutexName[] = L"Local\\Ostrevane.Client.Instance";

// Posted to the first window by a later start: show and activate yourself.
inline constexpr UINT WM_BRING_TO_FRONT = WM_APP + 21;

class InstanceLock {
public:
    // Creates or opens the mutex; held() is false when another process of the session created it.
    InstanceLock();

    bool held() const { return held_; }

private:
    UniqueKernelHandle mutex_;  // released when the client's run ends
    bool held_ = false;
};

// A later start's part: asks the running client's window (found by class and title) to come to
// the front; the caller may hand the foreground on, since it was just started by the user.
void BringFirstInstanceToFront();

// The first window's part, on WM_BRING_TO_FRONT: restore it when minimised, show and activate it.
void ComeToFront(HWND window);

}  // namespace ostrevane
