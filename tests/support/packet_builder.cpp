#include "support/packet_builder.h"

#include <algorithm>
#include <utility>

namespace ostrevane::testing {
namespace {

void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, value >> 16);
    Put16(bytes, at + 2, value & 0xFFFF);
}

}  // namespace

std::vector<std::uint8_t> BuildPacket(const PacketFields& fields) {
    const std::size_t ipHeader = 20 + fields.ipOptions.size();
    const std::size_t transportHeader = fields.protocol == 6 ? 20 + fields.tcpOptions.size() : 8;
    const std::size_t total = ipHeader + transportHeader + fields.payload.size();
    std::vector<std::uint8_t> packet(total, 0);
    packet[0] = static_cast<std::uint8_t>(0x40 | (ipHeader / 4));
    Put16(packet, 2, static_cast<std::uint32_t>(total));
    Put16(packet, 4, 0x1c46);  // identification
    packet[6] = 0x40;          // don't fragment
    packet[8] = 64;
    packet[9] = fields.protocol;
    Put32(packet, 12, fields.source);
    Put32(packet, 16, fields.destination);
    std::copy(fields.ipOptions.begin(), fields.ipOptions.end(), packet.begin() + 20);

    const std::size_t t = ipHeader;
    if (fields.protocol == 1) {
        packet[t] = fields.icmpType;
        Put16(packet, t + 4, fields.sourcePort);
        Put16(packet, t + 6, fields.destinationPort);
    } else {
        Put16(packet, t, fields.sourcePort);
        Put16(packet, t + 2, fields.destinationPort);
    }
    if (fields.protocol == 17) {
        Put16(packet, t + 4, static_cast<std::uint32_t>(transportHeader + fields.payload.size()));
    }
    if (fields.protocol == 6) {
        Put32(packet, t + 4, 0x11223344);  // sequence number
        Put32(packet, t + 8, 0x55667788);  // acknowledgement number
        packet[t + 12] = static_cast<std::uint8_t>((transportHeader / 4) << 4);
        packet[t + 13] = fields.tcpFlags;
        Put16(packet, t + 14, 0xFAF0);  // window
        std::copy(fields.tcpOptions.begin(), fields.tcpOptions.end(), packet.begin() + t + 20);
    }
    std::copy(fields.payload.begin(), fields.payload.end(), packet.begin() + t + transportHeader);
    return packet;
}

PacketFields ReplyTo(const PacketFields& fields) {
    PacketFields reply = fields;
    std::swap(reply.source, reply.destination);
    if (fields.protocol == 1) {
        reply.icmpType = 0;  // echo reply: identifier and sequence stay
    } else {
        std::swap(reply.sourcePort, reply.destinationPort);
    }
    if (fields.protocol == 6 && (fields.tcpFlags & 0x02) != 0) {
        reply.tcpFlags = 0x12;
    }
    return reply;
}

std::uint32_t ReadAddress(const std::vector<std::uint8_t>& packet, std::size_t offset) {
    return std::uint32_t{packet[offset]} << 24 | std::uint32_t{packet[offset + 1]} << 16 |
           std::uint32_t{packet[offset + 2]} << 8 | packet[offset + 3];
}

std::uint16_t ReadPort(const std::vector<std::uint8_t>& packet, std::size_t offsetInTransport) {
    const std::size_t at = static_cast<std::size_t>(packet[0] & 0x0F) * 4 + offsetInTransport;
    return static_cast<std::uint16_t>(packet[at] << 8 | packet[at + 1]);
}

}  // namespace ostrevane::testing
