#include "ipv4_checksums.h"

#include <cstdint>

namespace ostrevane::standin {
namespace {

std::uint32_t Sum16(const unsigned char* data, std::size_t length, std::uint32_t sum) {
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        sum += (std::uint32_t{data[i]} << 8) | data[i + 1];
    }
    if (length % 2 != 0) {
        sum += std::uint32_t{data[length - 1]} << 8;
    }
    return sum;
}

std::uint16_t Fold(std::uint32_t sum) {
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

void Store(unsigned char* at, std::uint16_t value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

}  // namespace

bool CalcIpv4Checksums(unsigned char* packet, std::size_t length) {
    if (packet == nullptr || length < 20 || (packet[0] >> 4) != 4) {
        return false;
    }
    const std::size_t headerLength = std::size_t{packet[0] & 0x0Fu} * 4;
    const std::size_t totalLength = (std::size_t{packet[2]} << 8) | packet[3];
    if (headerLength < 20 || totalLength < headerLength || totalLength > length) {
        return false;
    }
    packet[10] = packet[11] = 0;
    Store(packet + 10, Fold(Sum16(packet, headerLength, 0)));

    const bool fragment = ((packet[6] & 0x3F) | packet[7]) != 0;  // more-fragments bit or an offset
    if (fragment) {
        return true;
    }
    unsigned char* transport = packet + headerLength;
    const std::size_t transportLength = totalLength - headerLength;
    const unsigned char protocol = packet[9];
    std::uint32_t pseudo = Sum16(packet + 12, 8, 0) + protocol + static_cast<std::uint32_t>(transportLength);
    if (protocol == 1 && transportLength >= 4) {
        transport[2] = transport[3] = 0;
        Store(transport + 2, Fold(Sum16(transport, transportLength, 0)));
    } else if (protocol == 6 && transportLength >= 20) {
        transport[16] = transport[17] = 0;
        Store(transport + 16, Fold(Sum16(transport, transportLength, pseudo)));
    } else if (protocol == 17 && transportLength >= 8) {
        transport[6] = transport[7] = 0;
        std::uint16_t checksum = Fold(Sum16(transport, transportLength, pseudo));
        Store(transport + 6, checksum == 0 ? 0xFFFF : checksum);
    }
    return true;
}

}  // namespace ostrevane::standin
