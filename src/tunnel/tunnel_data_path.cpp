#include "tunnel/tunnel_data_path.h"

#include <thread>

namespace ostrevane {

void PauseThread(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

std::uint64_t SteadyMilliseconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void TunnelDataPath::ShutdownCapture() noexcept {
    if (!api) {
        return;
    }
    if (api->shutdown) {
        const HANDLE capture = captureHandle.load();
        if (capture != INVALID_HANDLE_VALUE) {
            api->shutdown(capture, kDivertShutdownBoth);
        }
        return;
    }
    const HANDLE capture = captureHandle.exchange(INVALID_HANDLE_VALUE);
    if (capture != INVALID_HANDLE_VALUE && api->close) {
        api->close(capture);
    }
}

void TunnelDataPath::CloseHandles() noexcept {
    for (std::atomic<HANDLE>* handle : {&captureHandle, &injectionHandle}) {
        const HANDLE value = handle->exchange(INVALID_HANDLE_VALUE);
        if (value != INVALID_HANDLE_VALUE && api && api->close) {
            api->close(value);
        }
    }
}

}  // namespace ostrevane
