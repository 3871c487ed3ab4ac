#include "tunnel/capture_loop.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "tunnel/capture_batch.h"
#include "tunnel/packet.h"
#include "tunnel/translation.h"

namespace ostrevane {
namespace {

// Room for one batched receive: a few packets of the largest size, or many of the usual one.
constexpr std::size_t kCaptureBatchBytes = 4 * kCaptureBufferSize;
constexpr std::size_t kCaptureBatchPackets = 64;

// The buffers of one receive, allocated once per capture thread.
struct CaptureBatch {
    std::vector<std::uint8_t> bytes;
    std::vector<WINDIVERT_ADDRESS> addresses;
    std::vector<std::span<std::uint8_t>> packets;
    std::vector<std::uint8_t> spare;  // the buffer the next translated packet is copied into
};

// The packets waiting at the capture handle, several per call where the library can; 0 when
// the call failed (the handle was shut down by a stop, or the call failed once).
std::size_t ReceiveBatch(TunnelDataPath& path, CaptureBatch& batch) {
    UINT received = 0;
    TunnelCounters::Add(path.counters.divertReceives);
    if (path.api->recvEx) {
        UINT addressesLength = static_cast<UINT>(batch.addresses.size() * sizeof(WINDIVERT_ADDRESS));
        if (!path.api->recvEx(path.captureHandle.load(), batch.bytes.data(), static_cast<UINT>(batch.bytes.size()),
                              &received, 0, batch.addresses.data(), &addressesLength, nullptr)) {
            return 0;
        }
        const std::size_t count = std::min<std::size_t>(addressesLength / sizeof(WINDIVERT_ADDRESS),
                                                        batch.addresses.size());
        return SplitCaptureBatch(std::span(batch.bytes.data(), std::min<std::size_t>(received, batch.bytes.size())),
                                 count, batch.packets);
    }
    batch.addresses[0] = {};
    if (!path.api->recv(path.captureHandle.load(), batch.bytes.data(), static_cast<UINT>(kCaptureBufferSize),
                        &received, batch.addresses.data())) {
        return 0;
    }
    return SplitCaptureBatch(std::span(batch.bytes.data(), std::min<std::size_t>(received, kCaptureBufferSize)), 1,
                             batch.packets);
}

void HandleCapturedPacket(TunnelDataPath& path, std::span<std::uint8_t> packet, const WINDIVERT_ADDRESS& address,
                          std::vector<std::uint8_t>& spare) {
    if (const auto view = ValidatePacket(packet)) {
        // Copied into a recycled buffer: the batch buffer is needed for the next receive.
        spare.assign(packet.begin(), packet.end());
        spare = TranslateOutbound(path, std::move(spare), *view, address);
        return;
    }
    // Not ours to translate: it goes on to the network as if it had never been diverted.
    UINT sent = 0;
    TunnelCounters::Add(path.counters.divertSends);
    if (!path.api->send(path.injectionHandle.load(), packet.data(), static_cast<UINT>(packet.size()), &sent,
                        &address)) {
        TunnelCounters::Add(path.counters.packetsDropped);
        throw std::runtime_error("WinDivertSend failed.");
    }
}

}  // namespace

void CaptureLoop(TunnelDataPath& path) {
    if (!path.api) {
        return;
    }
    CaptureBatch batch;
    batch.bytes.resize(path.api->recvEx ? kCaptureBatchBytes : kCaptureBufferSize);
    batch.addresses.resize(path.api->recvEx ? kCaptureBatchPackets : 1);
    while (path.running.load() && !path.stopping.load()) {
        const std::size_t count = ReceiveBatch(path, batch);
        TunnelCounters::Add(path.counters.packetsCaptured, count);
        for (std::size_t i = 0; i < count; ++i) {
            try {
                HandleCapturedPacket(path, batch.packets[i], batch.addresses[i], batch.spare);
            } catch (...) {
                batch.spare.clear();  // a half-translated packet is not reused as it stands
                path.pause(kOutboundFailurePause);
            }
        }
    }
}

void DispatchInbound(TunnelDataPath& path, std::span<std::uint8_t> packet) {
    if (!path.api || path.injectionHandle.load() == INVALID_HANDLE_VALUE) {
        return;
    }
    const auto view = ValidatePacket(packet);
    if (!view) {
        TunnelCounters::Add(path.counters.packetsDropped);
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
