// The commands of the main window: the command table, the busy rule, starting a worker and
// taking its completion, the automatic authorization retry, and the profile and copy commands.
// All on the window thread.
#pragma once

#include <windows.h>

#include <string>

#include "app/main_window.h"

namespace ostrevane {

// Stores the flag and disables (busy) or enables the fourteen command controls.
void SetBusy(MainWindow& record, bool busy);

// Drops the command when a worker runs; otherwise persists the controls, goes busy, shows and logs
// the status and starts the operation on a copy of the state.
void StartWorker(MainWindow& record, const std::wstring& status, WorkerOperation operation);

// WM_WORKER_DONE: joins the worker, reloads the state the operation saved, shows it (keeping what
// was typed into the usable controls meanwhile), leaves the busy state, shows the message's last
// line and logs all of it, and arms or disarms the retry timer.
void FinishWorker(MainWindow& record, LPARAM message);

// WM_COMMAND; false for ids that the default procedure handles.
bool HandleCommand(MainWindow& record, WPARAM wParam);

// WM_TIMER; false for timers other than the retry timer.
bool HandleTimer(MainWindow& record, WPARAM timerId);

void SaveProfileCommand(MainWindow& record);
void ChooseProfileCommand(MainWindow& record);
void CopyAccessKeyCommand(MainWindow& record);

// The message's outcome (its last line) in the status line, the whole message in the activity log.
void ShowStatus(MainWindow& record, const std::wstring& text);

// The activity log box and the log file.
void LogActivity(MainWindow& record, const std::wstring& text);

}  // namespace ostrevane
