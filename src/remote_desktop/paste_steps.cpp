#include "remote_desktop/paste_steps.h"

namespace ostrevane {

bool RunPasteSteps(PasteDesk& desk, const PasteTiming& timing) {
    HWND window = nullptr;  // kept once found: the Enter belongs to the window that got the paste
    bool onClipboard = false;
    bool pasted = false;
    for (int attempt = 0; attempt < timing.attempts; ++attempt) {
        desk.Wait(timing.searchInterval);
        if (window == nullptr) {
            window = desk.FindRustDesk();
            if (window == nullptr) {
                continue;
            }
        }
        if (!onClipboard) {
            onClipboard = desk.PutPasswordOnClipboard();  // another program may hold it open for a moment
            if (!onClipboard) {
                continue;
            }
        }
        desk.BringForward(window);
        desk.Wait(timing.beforePaste);
        if (desk.ForegroundWindow() != window) {
            continue;
        }
        if (!pasted) {
            desk.SendPaste();
            pasted = true;
            desk.Wait(timing.beforeEnter);
            if (desk.ForegroundWindow() != window) {
                continue;
            }
        }
        desk.SendEnter();
        return true;
    }
    return false;
}

}  // namespace ostrevane
