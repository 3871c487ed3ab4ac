#include "tunnel/translation.h"

#include <stdexcept>
#include <utility>

#include "tunnel/byte_order.h"
#include "tunnel/route_lookup.h"
#include "tunnel/tcp_mss.h"

namespace ostrevane {
namespace {

void RecalculateChecksums(const DivertApi& api, std::span<std::uint8_t> packet, const PacketView& view) {
    WINDIVERT_ADDRESS unused{};
    if (!api.calcChecksums(packet.data(), view.totalLength, &unused, 0)) {
        throw std::runtime_error("WinDivert checksum recalculation failed.");
    }
}

}  // namespace

std::vector<std::uint8_t> TranslateOutbound(TunnelDataPath& path, std::vector<std::uint8_t> packet,
                                            const PacketView& view, const WINDIVERT_ADDRESS& address) {
    // The packet is this thread's own and the mappings do not change while the tunnel runs:
    // only the connection table is shared, so only its update takes natMutex.
    std::uint8_t* const bytes = packet.data();
    const std::uint32_t destination = ReadBe32(bytes + kIpDestinationOffset);
    const RouteMapping* mapping = FindRouteMapping(path.mappings, destination);
    if (mapping == nullptr) {
        TunnelCounters::Add(path.counters.packetsDropped);
        packet.clear();
        return packet;  // the filter diverts only mapping networks, so this is the rare exception
    }
    const std::uint32_t source = ReadBe32(bytes + kIpSourceOffset);
    WriteBe32(bytes + kIpDestinationOffset, SiteAddress(*mapping, destination));
    WriteBe32(bytes + kIpSourceOffset, path.assignedAddress);
    ClampTcpMss(packet, view);
    RecalculateChecksums(*path.api, packet, view);
    {
        std::lock_guard lock(path.natMutex);
        path.flows.Record(OutboundFlowKey(packet, view),
                          FlowEntry{source, destination, address.Network.IfIdx, address.Network.SubIfIdx},
                          path.clock(), EndsTcpConnection(packet, view));
    }
    // Queued after the flow is recorded, so a reply can never arrive before its flow exists.
    SendQueue::Pushed pushed = path.sendQueue.Push(std::move(packet));
    if (pushed.discarded) {
        TunnelCounters::Add(path.counters.packetsDropped);
    }
    return std::move(pushed.spare);
}

void TranslateInbound(TunnelDataPath& path, std::span<std::uint8_t> packet, const PacketView& view) {
    FlowEntry flow;
    {
        std::lock_guard lock(path.natMutex);
        const FlowEntry* const found =
            path.flows.FindReply(InboundFlowKey(packet, view), path.clock(), EndsTcpConnection(packet, view));
        if (found == nullptr) {
            TunnelCounters::Add(path.counters.packetsDropped);
            return;  // never seen outbound, aged out, evicted, or seen before the table was last emptied
        }
        flow = *found;  // a copy: the entry may be evicted as soon as the lock is let go
    }
    std::uint8_t* const bytes = packet.data();
    WriteBe32(bytes + kIpDestinationOffset, flow.untranslatedSource);
    if (ReadBe32(bytes + kIpSourceOffset) != flow.untranslatedDestination) {
        WriteBe32(bytes + kIpSourceOffset, flow.untranslatedDestination);
    }
    RecalculateChecksums(*path.api, packet, view);

    WINDIVERT_ADDRESS inbound{};  // network layer, outbound bit clear
    inbound.Network.IfIdx = flow.interfaceIndex;
    inbound.Network.SubIfIdx = flow.subInterfaceIndex;
    UINT sent = 0;
    TunnelCounters::Add(path.counters.divertSends);
    if (!path.api->send(path.injectionHandle.load(), bytes, view.totalLength, &sent, &inbound)) {
        TunnelCounters::Add(path.counters.packetsDropped);
        throw std::runtime_error("WinDivertSend failed.");
    }
    TunnelCounters::Add(path.counters.packetsInjected);
}

}  // namespace ostrevane
