#include "tunnel/tunnel_data_path.h"

#include <thread>

namespace ostrevane {

void PauseThread(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

void TunnelDataPath::CloseHandles() noexcept {
    for (std::atomic<HANDLE>* handle : {&captureHandle, &injectionHandle}) {
        const HANDLE value = handle->exchange(INVALID_HANDLE_VALUE);
        if (value != INVALID_HANDLE_VALUE && api && api->close) {
            api->close(value);
        }
    }
}

}  // namespace ostrevane
