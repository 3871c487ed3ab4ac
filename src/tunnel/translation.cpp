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

void TranslateOutbound(TunnelDataPath& path, std::vector<std::uint8_t> packet, const PacketView& view,
                       const WINDIVERT_ADDRESS& address) {
    std::lock_guard lock(path.natMutex);
    std::uint8_t* const bytes = packet.data();
    const std::uint32_t destination = ReadBe32(bytes + kIpDestinationOffset);
    const RouteMapping* mapping = FindRouteMapping(path.mappings, destination);
    if (mapping == nullptr) {
        return;  // the filter diverts only mapping networks, so this is the rare exception
    }
    const std::uint32_t source = ReadBe32(bytes + kIpSourceOffset);
    WriteBe32(bytes + kIpDestinationOffset, SiteAddress(*mapping, destination));
    WriteBe32(bytes + kIpSourceOffset, path.assignedAddress);
    ClampTcpMss(packet, view);
    RecalculateChecksums(*path.api, packet, view);
    path.flows.Record(OutboundFlowKey(packet, view),
                      FlowEntry{source, destination, address.Network.IfIdx, address.Network.SubIfIdx}, path.clock(),
                      EndsTcpConnection(packet, view));
    path.sendQueue.Push(std::move(packet));
}

void TranslateInbound(TunnelDataPath& path, std::span<std::uint8_t> packet, const PacketView& view) {
    std::lock_guard lock(path.natMutex);
    const FlowEntry* const found =
        path.flows.FindReply(InboundFlowKey(packet, view), path.clock(), EndsTcpConnection(packet, view));
    if (found == nullptr) {
        return;  // never seen outbound, aged out, evicted, or seen before the table was last emptied
    }
    const FlowEntry& flow = *found;
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
    if (!path.api->send(path.injectionHandle.load(), bytes, view.totalLength, &sent, &inbound)) {
        throw std::runtime_error("WinDivertSend failed.");
    }
}

}  // namespace ostrevane
