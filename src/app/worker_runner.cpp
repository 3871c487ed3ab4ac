#include "app/worker_runner.h"

#include <exception>

#include "control/session_end.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

std::wstring RunOperation(WorkerContext& context) noexcept {
    std::wstring message;
    try {
        context.operation(context.snapshot, context.engine, message);
    } catch (const std::exception& error) {
        RunFailureCleanUp(context.snapshot, context.engine);
        try {
            message = L"Error: " + Utf8ToWide(error.what());
        } catch (...) {
            message = L"Error: ";
        }
    } catch (...) {
        message = L"Unknown error.";
    }
    return message;
}

}  // namespace

void RunWorker(std::unique_ptr<WorkerContext> context) noexcept {
    std::wstring message = RunOperation(*context);
    std::wstring* text = nullptr;
    try {
        text = new std::wstring(std::move(message));
    } catch (...) {
        // Without memory for the text the window still has to leave the busy state: an empty message.
    }
    if (!PostMessageW(context->window, WM_WORKER_DONE, 0, reinterpret_cast<LPARAM>(text))) {
        delete text;  // the window is gone
    }
    context.reset();
}

std::thread StartWorkerThread(std::unique_ptr<WorkerContext> context) { return std::thread(RunWorker, std::move(context)); }

std::wstring TakeWorkerMessage(LPARAM lParam) {
    std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
    return text ? std::move(*text) : std::wstring{};
}

}  // namespace ostrevane
