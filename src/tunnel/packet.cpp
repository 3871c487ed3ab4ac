#include "tunnel/packet.h"

#include "tunnel/byte_order.h"

namespace ostrevane {

std::optional<PacketView> ValidatePacket(std::span<const std::uint8_t> bytes) {
    const std::size_t held = bytes.size();
    if (held < kIpMinimumHeaderLength || (bytes[0] >> 4) != 4) {
        return std::nullopt;
    }
    const std::size_t headerLength = std::size_t{bytes[0] & 0x0Fu} * 4;
    if (headerLength < kIpMinimumHeaderLength || headerLength > held) {
        return std::nullopt;
    }
    const std::size_t totalLength = ReadBe16(bytes.data() + kIpTotalLengthOffset);
    if (totalLength < headerLength || totalLength > held) {
        return std::nullopt;
    }
    const std::uint8_t protocol = bytes[kIpProtocolOffset];
    std::size_t transportMinimum = 0;
    switch (protocol) {
        case kProtocolIcmp:
            transportMinimum = kIcmpMinimumHeaderLength;
            break;
        case kProtocolUdp:
            transportMinimum = kUdpHeaderLength;
            break;
        case kProtocolTcp:
            transportMinimum = kTcpMinimumHeaderLength;
            break;
        default:
            return std::nullopt;
    }
    if (totalLength < headerLength + transportMinimum) {
        return std::nullopt;
    }
    return PacketView{static_cast<std::uint32_t>(totalLength), static_cast<std::uint32_t>(headerLength), protocol};
}

}  // namespace ostrevane
