// Wire format between the WinDivert stand-in DLL and its harness (a test or the demo), carried in
// loopback UDP datagrams. Every datagram starts with "SDV1" and a kind byte; numbers are big-endian.
//   stand-in -> harness   OPEN     handle u32, layer u8, priority i16, flags u64, filter (UTF-8, rest)
//   harness  -> stand-in  OPENED   handle u32, accepted u8            (answer to OPEN, to its sender)
//   harness  -> stand-in  PACKET   interface u32, sub-interface u32, packet (rest): one outbound packet
//   harness  -> stand-in  PACKETS  records of interface u32, sub-interface u32, length u16, packet:
//                                  several outbound packets at once, as the driver queues them
//   stand-in -> harness   INJECT   handle u32, interface u32, sub-interface u32, outbound u8, packet (rest)
//   stand-in -> harness   CLOSE    handle u32
// The stand-in finds its harness through the environment variable OSTREVANE_DIVERT_HARNESS
// ("127.0.0.1:PORT"); only the stand-in reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostrevane::standin {

inline constexpr unsigned char kMagic[4] = {'S', 'D', 'V', '1'};
inline constexpr char kHarnessVariable[] = "OSTREVANE_DIVERT_HARNESS";

enum class Kind : unsigned char { Open = 1, Opened = 2, Packet = 3, Inject = 4, Close = 5, Packets = 6 };

inline constexpr std::size_t kPacketHeaderLength = 13;  // PACKET: magic, kind, interface, sub-interface
inline constexpr std::size_t kRecordHeaderLength = 10;  // a PACKETS record: interface, sub-interface, length

inline void PutU16(std::vector<unsigned char>& out, std::uint16_t v) {
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}
inline void PutU32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(v >> shift));
    }
}
inline void PutU64(std::vector<unsigned char>& out, std::uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(v >> shift));
    }
}
inline void PutU32(unsigned char* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
    }
}
inline std::uint16_t GetU16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t GetU32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline std::vector<unsigned char> Header(Kind kind) {
    return {kMagic[0], kMagic[1], kMagic[2], kMagic[3], static_cast<unsigned char>(kind)};
}
inline bool HasHeader(const unsigned char* data, std::size_t length, Kind kind) {
    return length >= 5 && data[0] == kMagic[0] && data[1] == kMagic[1] && data[2] == kMagic[2] &&
           data[3] == kMagic[3] && data[4] == static_cast<unsigned char>(kind);
}

}  // namespace ostrevane::standin
