// The two entry points of the data path: the capture thread's loop over diverted outbound
// packets, and the hand-over of each packet that the relay brings back.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "tunnel/tunnel_data_path.h"

namespace ostrevane {

inline constexpr std::size_t kCaptureBufferSize = 65535;  // the largest IPv4 packet
inline constexpr std::chrono::milliseconds kOutboundFailurePause{50};
inline constexpr std::chrono::milliseconds kInboundFailurePause{20};

// Thread body: receives diverted packets while running is set and stopping is clear; valid
// ones are translated and queued, others are put back unchanged. A packet that fails is lost
// and the loop pauses 50 ms before the next.
void CaptureLoop(TunnelDataPath& path);

// One packet from the relay: dropped without a WinDivert table or injection handle, or when it
// fails validation; otherwise translated back and injected. A failure loses the packet and
// pauses 20 ms unless the tunnel is stopping. Called from two threads at once.
void DispatchInbound(TunnelDataPath& path, std::span<std::uint8_t> packet);

}  // namespace ostrevane
