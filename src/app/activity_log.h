// The on-screen activity log: every status line goes to the log file and, with its time prefix,
// to the end of the read-only log box, which then shows its last line.
#pragma once

#include <windows.h>

#include <string>

namespace ostrevane {

// Writes the text to the log file, then appends "[hh:mm:ss] text" to the box and scrolls to it.
// UI thread only.
void AppendActivityLog(HWND box, const std::wstring& text);

}  // namespace ostrevane
