// The one worker thread of the window: the record it owns, the runner that turns any end of an
// operation into a completion message, and the message that hands the text to the window.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <thread>

#include "control/worker_operation.h"

namespace ostrevane {

// Posted by the worker when its operation has ended. wParam 0; lParam a heap std::wstring with
// the operation's message, owned by the receiver from then on (zero counts as empty).
inline constexpr UINT WM_WORKER_DONE = WM_APP + 20;

// What a worker thread owns: where to report, its own copy of the state, the engine slot and the
// operation. Destroyed by the thread after it has posted its completion.
struct WorkerContext {
    HWND window = nullptr;
    ClientState snapshot;
    EngineSlot engine = nullptr;
    WorkerOperation operation = nullptr;
};

// Runs the operation on the snapshot. A standard exception gets the failure clean-up and the
// message "Error: " with its text; anything else gives "Unknown error.". Always posts
// WM_WORKER_DONE, whatever happened.
void RunWorker(std::unique_ptr<WorkerContext> context) noexcept;

// Starts a thread on RunWorker; throws std::system_error when the system refuses the thread.
std::thread StartWorkerThread(std::unique_ptr<WorkerContext> context);

// The message of a completion, freeing its heap string; empty for a zero lParam.
std::wstring TakeWorkerMessage(LPARAM lParam);

}  // namespace ostrevane
