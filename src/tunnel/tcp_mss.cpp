#include "tunnel/tcp_mss.h"

#include "tunnel/byte_order.h"

namespace ostrevane {
namespace {

constexpr std::uint8_t kTcpFlagSyn = 0x02;
constexpr std::size_t kTcpFlagsOffset = 13;
constexpr std::size_t kTcpDataOffsetOffset = 12;
constexpr std::uint8_t kOptionEnd = 0;
constexpr std::uint8_t kOptionNoOperation = 1;
constexpr std::uint8_t kOptionMaximumSegmentSize = 2;
constexpr std::size_t kMaximumSegmentSizeOptionLength = 4;

}  // namespace

bool ClampTcpMss(std::span<std::uint8_t> packet, const PacketView& view) {
    if (view.protocol != kProtocolTcp || view.totalLength > packet.size() ||
        view.headerLength + kTcpMinimumHeaderLength > view.totalLength) {
        return false;
    }
    std::uint8_t* const tcp = packet.data() + view.headerLength;
    if ((tcp[kTcpFlagsOffset] & kTcpFlagSyn) == 0) {
        return false;
    }
    const std::size_t tcpHeaderLength = static_cast<std::size_t>(tcp[kTcpDataOffsetOffset] >> 4) * 4;
    if (tcpHeaderLength <= kTcpMinimumHeaderLength || view.headerLength + tcpHeaderLength > view.totalLength) {
        return false;
    }
    std::size_t at = kTcpMinimumHeaderLength;
    while (at < tcpHeaderLength) {
        const std::uint8_t kind = tcp[at];
        if (kind == kOptionEnd) {
            return false;
        }
        if (kind == kOptionNoOperation) {
            ++at;
            continue;
        }
        if (at + 1 >= tcpHeaderLength) {
            return false;
        }
        const std::size_t length = tcp[at + 1];
        if (length < 2 || at + length > tcpHeaderLength) {
            return false;
        }
        if (kind == kOptionMaximumSegmentSize && length == kMaximumSegmentSizeOptionLength) {
            if (ReadBe16(tcp + at + 2) <= kClampedMaximumSegmentSize) {
                return false;
            }
            WriteBe16(tcp + at + 2, kClampedMaximumSegmentSize);
            return true;
        }
        at += length;
    }
    return false;
}

}  // namespace ostrevane
