#include "tunnel/capture_batch.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An IPv4 header's first four bytes with the total length; the rest filled with the tag.
Bytes Packet(std::uint16_t totalLength, std::uint8_t tag) {
    Bytes packet(totalLength, tag);
    packet[0] = 0x45;
    packet[2] = static_cast<std::uint8_t>(totalLength >> 8);
    packet[3] = static_cast<std::uint8_t>(totalLength);
    return packet;
}

Bytes Joined(const std::vector<Bytes>& packets) {
    Bytes all;
    for (const Bytes& packet : packets) {
        all.insert(all.end(), packet.begin(), packet.end());
    }
    return all;
}

TEST(SplitCaptureBatch, FindsEachPacketByItsTotalLength) {
    const std::vector<Bytes> packets = {Packet(20, 1), Packet(1400, 2), Packet(60, 3)};
    Bytes all = Joined(packets);
    std::vector<std::span<std::uint8_t>> found;
    ASSERT_EQ(SplitCaptureBatch(all, 3, found), 3u);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(Bytes(found[i].begin(), found[i].end()), packets[i]) << i;
    }
    EXPECT_EQ(found[1].data(), all.data() + 20) << "views into the batch, not copies";
}

TEST(SplitCaptureBatch, ALonePacketIsAllTheBytesWhateverItsLengthField) {
    Bytes odd = Packet(40, 7);
    odd[3] = 99;  // says 99, received 40
    std::vector<std::span<std::uint8_t>> found;
    ASSERT_EQ(SplitCaptureBatch(odd, 1, found), 1u);
    EXPECT_EQ(found[0].size(), 40u);
    Bytes empty;
    EXPECT_EQ(SplitCaptureBatch(empty, 1, found), 1u) << "put back as it came";
    EXPECT_EQ(SplitCaptureBatch(odd, 0, found), 0u);
}

TEST(SplitCaptureBatch, ALengthThatCannotBeTrueEndsTheSplitThere) {
    for (const std::uint16_t broken : {std::uint16_t{0}, std::uint16_t{19}, std::uint16_t{5000}}) {
        Bytes second = Packet(40, 2);
        second[2] = static_cast<std::uint8_t>(broken >> 8);
        second[3] = static_cast<std::uint8_t>(broken);
        Bytes all = Joined({Packet(30, 1), second, Packet(30, 3)});
        std::vector<std::span<std::uint8_t>> found;
        EXPECT_EQ(SplitCaptureBatch(all, 3, found), 1u) << broken;
        EXPECT_EQ(found[0].size(), 30u);
    }
    Bytes shortTail = Joined({Packet(30, 1), Bytes(10, 0x45)});
    std::vector<std::span<std::uint8_t>> found;
    EXPECT_EQ(SplitCaptureBatch(shortTail, 3, found), 1u) << "ten bytes cannot hold a header";
    EXPECT_EQ(SplitCaptureBatch(shortTail, 2, found), 2u) << "the last of the count takes what is left";
}

}  // namespace
}  // namespace ostrevane
