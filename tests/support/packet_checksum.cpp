#include "support/packet_checksum.h"

#include <cstdio>

namespace ostrevane::testing {
namespace {

struct Layout {
    std::size_t headerLength;
    std::size_t totalLength;
    std::uint8_t protocol;
    std::size_t checksumOffset;  // of the transport checksum, from the start of the packet
};

Layout ReadLayout(std::span<const std::uint8_t> packet) {
    Layout layout{};
    layout.headerLength = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    layout.totalLength = static_cast<std::size_t>(packet[2]) << 8 | packet[3];
    layout.protocol = packet[9];
    const std::size_t fieldInTransport = layout.protocol == 6 ? 16 : layout.protocol == 17 ? 6 : 2;
    layout.checksumOffset = layout.headerLength + fieldInTransport;
    return layout;
}

std::uint16_t Field(std::span<const std::uint8_t> packet, std::size_t offset) {
    return static_cast<std::uint16_t>(packet[offset] << 8 | packet[offset + 1]);
}

}  // namespace

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t initialSum) {
    std::uint64_t sum = initialSum;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    }
    if (bytes.size() % 2 != 0) {
        sum += static_cast<std::uint32_t>(bytes.back() << 8);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::uint16_t ExpectedIpChecksum(std::span<const std::uint8_t> packet) {
    const Layout layout = ReadLayout(packet);
    std::vector<std::uint8_t> header(packet.begin(), packet.begin() + layout.headerLength);
    header[10] = header[11] = 0;
    return InternetChecksum(header);
}

std::uint16_t ExpectedTransportChecksum(std::span<const std::uint8_t> packet) {
    const Layout layout = ReadLayout(packet);
    std::vector<std::uint8_t> segment(packet.begin() + layout.headerLength, packet.begin() + layout.totalLength);
    const std::size_t field = layout.checksumOffset - layout.headerLength;
    if (segment.size() < field + 2) {
        return 0;  // no room for the field: not a packet these tests build
    }
    segment[field] = 0;
    segment[field + 1] = 0;
    if (layout.protocol == 1) {
        return InternetChecksum(segment);  // ICMP has no pseudo-header
    }
    std::uint32_t pseudo = 0;
    for (std::size_t i = 12; i < 20; i += 2) {
        pseudo += Field(packet, i);  // source and destination addresses
    }
    pseudo += layout.protocol;
    pseudo += static_cast<std::uint32_t>(segment.size());
    const std::uint16_t checksum = InternetChecksum(segment, pseudo);
    return layout.protocol == 17 && checksum == 0 ? 0xFFFF : checksum;
}

std::vector<std::uint8_t> WithChecksums(std::vector<std::uint8_t> packet) {
    const Layout layout = ReadLayout(packet);
    const std::uint16_t ip = ExpectedIpChecksum(packet);
    packet[10] = static_cast<std::uint8_t>(ip >> 8);
    packet[11] = static_cast<std::uint8_t>(ip);
    const std::uint16_t transport = ExpectedTransportChecksum(packet);
    packet[layout.checksumOffset] = static_cast<std::uint8_t>(transport >> 8);
    packet[layout.checksumOffset + 1] = static_cast<std::uint8_t>(transport);
    return packet;
}

std::string ChecksumProblems(std::span<const std::uint8_t> packet) {
    const Layout layout = ReadLayout(packet);
    std::string problems;
    char line[96];
    const std::uint16_t ip = Field(packet, 10);
    if (ip != ExpectedIpChecksum(packet)) {
        std::snprintf(line, sizeof line, "IP checksum %04x, expected %04x; ", ip, ExpectedIpChecksum(packet));
        problems += line;
    }
    const std::uint16_t transport = Field(packet, layout.checksumOffset);
    if (transport != ExpectedTransportChecksum(packet)) {
        std::snprintf(line, sizeof line, "protocol %u checksum %04x, expected %04x", layout.protocol, transport,
                      ExpectedTransportChecksum(packet));
        problems += line;
    }
    return problems;
}

}  // namespace ostrevane::testing
