// The run's log file: chosen once at start-up, appended to line by line under one process-wide
// lock so lines from any thread never interleave. Failures lose the line silently.
#pragma once

#include <string>

#include "app/log_text.h"

namespace ostrevane {

// The local time now, as the log reads it.
LogTime CurrentLogTime();

// Chooses this run's log file path and creates its directory; later calls change nothing.
void InitializeLogFile();

// Appends "[hh:mm:ss] text\r\n" in UTF-8; a new file starts with a byte order mark.
// Does nothing before InitializeLogFile.
void WriteLogLine(const std::wstring& text);

// The chosen path; empty before InitializeLogFile.
std::wstring LogFilePath();

// Tests only: points the log at another file, whether or not a path was chosen already.
void UseLogFileForTesting(const std::wstring& path);

}  // namespace ostrevane
