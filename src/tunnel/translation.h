// The address translation of the tunnel's packets: outbound from the addresses that local
// programs use to the tunnel address and the site's real network, inbound back again with the
// connection table. Checksums and injection go through the WinDivert table of the data path.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tunnel/packet.h"
#include "tunnel/tunnel_data_path.h"

namespace ostrevane {

// Rewrites source to the assigned address and a remapped destination to the site network,
// clamps the MSS, recomputes checksums, records the flow with the interface of the diversion
// record (under natMutex) and queues the packet (all received bytes). A packet whose
// destination lies in no mapping network is dropped. Returns an emptied buffer for the next
// packet: a spare of the queue, or the dropped packet's own. Throws "WinDivert checksum
// recalculation failed.".
std::vector<std::uint8_t> TranslateOutbound(TunnelDataPath& path, std::vector<std::uint8_t> packet,
                                            const PacketView& view, const WINDIVERT_ADDRESS& address);

// Finds the flow of a reply from the site (under natMutex), restores the local program's
// addresses, recomputes checksums and injects the packet inbound on the flow's interface.
// A reply without a flow is dropped. Throws "WinDivert checksum recalculation failed." and
// "WinDivertSend failed.".
void TranslateInbound(TunnelDataPath& path, std::span<std::uint8_t> packet, const PacketView& view);

}  // namespace ostrevane
