// The remote-desktop command: asks the control service for a RustDesk session with the site
// device, makes sure RustDesk is there and configured, starts it with the session's id and
// gets the one-time password into its window.
#pragma once

#include <string>

#include "control/worker_operation.h"

namespace ostrevane {

// Worker operation. A refusal or a missing RustDesk ends with its message and saves nothing;
// otherwise the executable used is remembered in rustDeskPath and the state saved. Transport
// and JSON errors of the request are not caught. The engine is not used.
void OpenRemoteDesktop(ClientState& snapshot, EngineSlot engine, std::wstring& message);

}  // namespace ostrevane
