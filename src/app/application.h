// The client's process lifetime: start-up in order, the main window, the message loop and the
// teardown of the long-lived objects.
#pragma once

#include <windows.h>

namespace ostrevane {

// Everything the GUI entry point does; returns the exit code (0 after a normal close, 1 when
// the window could not be created).
int RunClient(HINSTANCE instance, int showCommand);

}  // namespace ostrevane
