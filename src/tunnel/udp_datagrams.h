// Datagrams of the UDP relay path. Every datagram starts with the magic "OVU1" and a kind byte;
// numbers are big-endian. hello (2): length-prefixed connection id and engineer id; acknowledgement
// (3): role 2 and a non-zero 64-bit token, 14 bytes in all; data (4): token and one IPv4 packet.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrevane {

inline constexpr unsigned char kUdpMagic[4] = {'O', 'V', 'U', '1'};
inline constexpr unsigned char kUdpKindHello = 2;
inline constexpr unsigned char kUdpKindAcknowledgement = 3;
inline constexpr unsigned char kUdpKindData = 4;
inline constexpr std::size_t kUdpAcknowledgementLength = 14;
inline constexpr std::size_t kUdpDataHeaderLength = 13;
inline constexpr std::size_t kUdpMaxPacketLength = 1350;        // largest packet the client sends as a datagram
inline constexpr std::size_t kUdpMaxDatagramLength = 1400;      // largest datagram the client accepts
inline constexpr std::size_t kUdpMinDataDatagramLength = 14;    // header plus at least one byte

// A 16-bit big-endian length and the text, cut to 65535 bytes.
void AppendLengthPrefixed(std::vector<unsigned char>& out, const std::string& text);

// The hello for a connection: both ids trimmed, in UTF-8, each cut to 65535 bytes.
std::vector<unsigned char> BuildUdpHello(const std::wstring& connectionId, const std::wstring& engineerId);

// The token of a valid acknowledgement (exactly 14 bytes, magic, kind 3, role 2, token not 0).
std::optional<std::uint64_t> ParseUdpAcknowledgement(const unsigned char* data, std::size_t length);

// The 13 bytes in front of a data datagram's packet: magic, kind 4 and the token.
std::array<unsigned char, kUdpDataHeaderLength> UdpDataHeader(std::uint64_t token);

// A whole data datagram: the header and the packet.
std::vector<unsigned char> BuildUdpData(std::uint64_t token, const unsigned char* packet, std::size_t length);

struct UdpDataView {
    std::uint64_t token = 0;
    const unsigned char* payload = nullptr;
    std::size_t payloadLength = 0;
};

// A data datagram of 14 to 1400 bytes with the magic, kind 4 and a token other than 0.
std::optional<UdpDataView> ParseUdpData(const unsigned char* data, std::size_t length);

// Whether a packet may travel as a datagram: 20 to 1350 bytes, IPv4, protocol UDP.
bool FitsUdpPath(const unsigned char* packet, std::size_t length);

}  // namespace ostrevane
