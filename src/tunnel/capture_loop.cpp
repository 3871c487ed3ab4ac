#include "tunnel/capture_loop.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "tunnel/packet.h"
#include "tunnel/translation.h"

namespace ostrevane {
namespace {

void HandleCapturedPacket(TunnelDataPath& path, std::vector<std::uint8_t> packet, const WINDIVERT_ADDRESS& address) {
    if (const auto view = ValidatePacket(packet)) {
        TranslateOutbound(path, std::move(packet), *view, address);
        return;
    }
    // Not ours to translate: it goes on to the network as if it had never been diverted.
    UINT sent = 0;
    if (!path.api->send(path.injectionHandle.load(), packet.data(), static_cast<UINT>(packet.size()), &sent,
                        &address)) {
        throw std::runtime_error("WinDivertSend failed.");
    }
}

}  // namespace

void CaptureLoop(TunnelDataPath& path) {
    if (!path.api) {
        return;
    }
    std::vector<std::uint8_t> buffer(kCaptureBufferSize);
    while (path.running.load() && !path.stopping.load()) {
        UINT received = 0;
        WINDIVERT_ADDRESS address{};
        if (!path.api->recv(path.captureHandle.load(), buffer.data(), static_cast<UINT>(buffer.size()), &received,
                            &address)) {
            continue;  // the handle was closed by a stop (the loop test ends it) or the call failed once
        }
        try {
            const std::size_t length = std::min<std::size_t>(received, buffer.size());
            HandleCapturedPacket(path, std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + length), address);
        } catch (...) {
            path.pause(kOutboundFailurePause);
        }
    }
}

void DispatchInbound(TunnelDataPath& path, std::span<std::uint8_t> packet) {
    if (!path.api || path.injectionHandle.load() == INVALID_HANDLE_VALUE) {
        return;
    }
    const auto view = ValidatePacket(packet);
    if (!view) {
        return;
    }
    try {
        TranslateInbound(path, packet, *view);
    } catch (...) {
        if (!path.stopping.load()) {
            path.pause(kInboundFailurePause);
        }
    }
}

}  // namespace ostrevane
