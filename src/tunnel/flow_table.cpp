#include "tunnel/flow_table.h"

#include "tunnel/byte_order.h"

namespace ostrevane {
namespace {

// Reads the key with "local" at the given address and port offsets; the view comes from
// validation, so the transport header holds at least eight bytes.
FlowKey ReadFlowKey(const std::uint8_t* packet, const PacketView& view, std::size_t localAddressOffset,
                    std::size_t remoteAddressOffset, std::size_t localPortOffset, std::size_t remotePortOffset) {
    const std::uint8_t* transport = packet + view.headerLength;
    FlowKey key;
    key.protocol = view.protocol;
    key.localAddress = ReadBe32(packet + localAddressOffset);
    key.remoteAddress = ReadBe32(packet + remoteAddressOffset);
    if (view.protocol == kProtocolIcmp) {
        key.localPort = ReadBe16(transport + kIcmpIdentifierOffset);
        key.remotePort = 0;
    } else {
        key.localPort = ReadBe16(transport + localPortOffset);
        key.remotePort = ReadBe16(transport + remotePortOffset);
    }
    return key;
}

}  // namespace

FlowKey OutboundFlowKey(std::span<const std::uint8_t> packet, const PacketView& view) {
    return ReadFlowKey(packet.data(), view, kIpSourceOffset, kIpDestinationOffset, kSourcePortOffset,
                       kDestinationPortOffset);
}

FlowKey InboundFlowKey(std::span<const std::uint8_t> packet, const PacketView& view) {
    return ReadFlowKey(packet.data(), view, kIpDestinationOffset, kIpSourceOffset, kDestinationPortOffset,
                       kSourcePortOffset);
}

}  // namespace ostrevane
