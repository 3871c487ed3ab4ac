#include "tunnel/udp_datagrams.h"

#include <algorithm>

#include "settings/text_utils.h"

namespace ostrevane {
namespace {

bool HasHeader(const unsigned char* data, std::size_t length, unsigned char kind) {
    return length >= 5 && std::equal(kUdpMagic, kUdpMagic + 4, data) && data[4] == kind;
}

std::uint64_t ReadUint64(const unsigned char* data) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value = (value << 8) | data[i];
    }
    return value;
}

}  // namespace

void AppendLengthPrefixed(std::vector<unsigned char>& out, const std::string& text) {
    const std::size_t length = std::min<std::size_t>(text.size(), 0xFFFF);
    out.push_back(static_cast<unsigned char>(length >> 8));
    out.push_back(static_cast<unsigned char>(length & 0xFF));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

std::vector<unsigned char> BuildUdpHello(const std::wstring& connectionId, const std::wstring& engineerId) {
    std::vector<unsigned char> hello{kUdpMagic[0], kUdpMagic[1], kUdpMagic[2], kUdpMagic[3], kUdpKindHello};
    AppendLengthPrefixed(hello, WideToUtf8(TrimWhitespace(connectionId)));
    AppendLengthPrefixed(hello, WideToUtf8(TrimWhitespace(engineerId)));
    return hello;
}

std::optional<std::uint64_t> ParseUdpAcknowledgement(const unsigned char* data, std::size_t length) {
    if (length != kUdpAcknowledgementLength || !HasHeader(data, length, kUdpKindAcknowledgement) ||
        data[5] != kUdpKindHello) {
        return std::nullopt;
    }
    const std::uint64_t token = ReadUint64(data + 6);
    if (token == 0) {
        return std::nullopt;
    }
    return token;
}

std::array<unsigned char, kUdpDataHeaderLength> UdpDataHeader(std::uint64_t token) {
    std::array<unsigned char, kUdpDataHeaderLength> header{kUdpMagic[0], kUdpMagic[1], kUdpMagic[2], kUdpMagic[3],
                                                           kUdpKindData};
    for (int i = 0; i < 8; ++i) {
        header[5 + i] = static_cast<unsigned char>(token >> (56 - 8 * i));
    }
    return header;
}

std::vector<unsigned char> BuildUdpData(std::uint64_t token, const unsigned char* packet, std::size_t length) {
    const auto header = UdpDataHeader(token);
    std::vector<unsigned char> datagram(kUdpDataHeaderLength + length);
    std::copy(header.begin(), header.end(), datagram.begin());
    std::copy(packet, packet + length, datagram.begin() + kUdpDataHeaderLength);
    return datagram;
}

std::optional<UdpDataView> ParseUdpData(const unsigned char* data, std::size_t length) {
    if (length < kUdpMinDataDatagramLength || length > kUdpMaxDatagramLength ||
        !HasHeader(data, length, kUdpKindData)) {
        return std::nullopt;
    }
    const std::uint64_t token = ReadUint64(data + 5);
    if (token == 0) {
        return std::nullopt;
    }
    return UdpDataView{token, data + kUdpDataHeaderLength, length - kUdpDataHeaderLength};
}

bool FitsUdpPath(const unsigned char* packet, std::size_t length) {
    return length >= 20 && length <= kUdpMaxPacketLength && (packet[0] >> 4) == 4 && packet[9] == 17;
}

}  // namespace ostrevane
