#include "tunnel/packet.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tunnel/byte_order.h"

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;

}  // namespace

void PrintTo(const PacketView& view, std::ostream* out) {
    *out << "{T " << view.totalLength << ", H " << view.headerLength << ", protocol " << int{view.protocol} << "}";
}

namespace {

// Header of 20 bytes with the given first byte, total length and protocol; zero-filled to size.
Bytes Ip(std::uint8_t versionAndLength, std::uint16_t totalLength, std::uint8_t protocol, std::size_t size) {
    Bytes bytes(size, 0);
    if (size >= 20) {
        bytes[0] = versionAndLength;
        bytes[2] = static_cast<std::uint8_t>(totalLength >> 8);
        bytes[3] = static_cast<std::uint8_t>(totalLength);
        bytes[9] = protocol;
    }
    return bytes;
}

struct ValidationRow {
    const char* what;
    Bytes bytes;
    std::optional<PacketView> expected;
};

TEST(ValidatePacket, AcceptsAndRefusesAtEveryBoundary) {
    const std::vector<ValidationRow> rows = {
        {"empty", {}, std::nullopt},
        {"19 bytes", Bytes(19, 0x45), std::nullopt},
        {"IPv6 version nibble", Ip(0x65, 28, 17, 28), std::nullopt},
        {"header length 16", Ip(0x44, 28, 17, 28), std::nullopt},
        {"header length 24 but 20 bytes held", Ip(0x46, 20, 17, 20), std::nullopt},
        {"total length below header length", Ip(0x45, 19, 17, 28), std::nullopt},
        {"total length above bytes held", Ip(0x45, 29, 17, 28), std::nullopt},
        {"IGMP", Ip(0x45, 28, 2, 28), std::nullopt},
        {"ICMP with 7 transport bytes", Ip(0x45, 27, 1, 28), std::nullopt},
        {"ICMP with 8 transport bytes", Ip(0x45, 28, 1, 28), PacketView{28, 20, 1}},
        {"UDP with 7 transport bytes", Ip(0x45, 27, 17, 27), std::nullopt},
        {"UDP with 8 transport bytes", Ip(0x45, 28, 17, 28), PacketView{28, 20, 17}},
        {"TCP with 19 transport bytes", Ip(0x45, 39, 6, 40), std::nullopt},
        {"TCP with 20 transport bytes", Ip(0x45, 40, 6, 40), PacketView{40, 20, 6}},
        {"bytes after the total length", Ip(0x45, 28, 17, 60), PacketView{28, 20, 17}},
        {"IP options, header length 24", Ip(0x46, 32, 17, 32), PacketView{32, 24, 17}},
        {"IP options leave no room for UDP", Ip(0x46, 31, 17, 32), std::nullopt},
        {"largest header, 60 bytes", Ip(0x4F, 68, 1, 68), PacketView{68, 60, 1}},
    };
    for (const ValidationRow& row : rows) {
        EXPECT_EQ(ValidatePacket(row.bytes), row.expected) << row.what;
    }
}

TEST(ValidatePacket, IgnoresFragmentFields) {
    Bytes bytes = Ip(0x45, 28, 17, 28);
    bytes[6] = 0x20;  // more fragments
    bytes[7] = 0x10;  // fragment offset
    EXPECT_EQ(ValidatePacket(bytes), (PacketView{28, 20, 17}));
}

TEST(ValidatePacket, ReadsTheLargestTotalLength) {
    const Bytes bytes = Ip(0x45, 65535, 6, 65535);
    EXPECT_EQ(ValidatePacket(bytes), (PacketView{65535, 20, 6}));
}

TEST(ByteOrder, ReadsAndWritesMostSignificantByteFirst) {
    std::uint8_t bytes[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(ReadBe16(bytes), 0x1234);
    EXPECT_EQ(ReadBe32(bytes), 0x12345678u);
    WriteBe16(bytes, 0xABCD);
    EXPECT_EQ(bytes[0], 0xAB);
    EXPECT_EQ(bytes[1], 0xCD);
    WriteBe32(bytes, 0xFEDCBA98u);
    EXPECT_EQ((std::vector<std::uint8_t>(bytes, bytes + 4)), (std::vector<std::uint8_t>{0xFE, 0xDC, 0xBA, 0x98}));
    EXPECT_EQ(ReadBe32(bytes), 0xFEDCBA98u);
}

}  // namespace
}  // namespace ostrevane
