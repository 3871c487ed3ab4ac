// The TLS session's receive buffer on its own: encrypted bytes kept in order across receives and
// the moves that make room, the unused tail of a step kept for the next one, and decrypted bytes
// handed out in any sizes.
#include "tunnel/tls_record_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t length, std::uint8_t first) {
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

void Receive(TlsRecordBuffer& buffer, const Bytes& bytes) {
    const std::span<std::uint8_t> space = buffer.SpaceForReceive();
    ASSERT_GE(space.size(), bytes.size());
    std::memcpy(space.data(), bytes.data(), bytes.size());
    buffer.Received(bytes.size());
}

Bytes PendingCopy(TlsRecordBuffer& buffer) { return Bytes(buffer.Pending().begin(), buffer.Pending().end()); }

TEST(TlsRecordBuffer, KeepsTheUnusedTailOfEachStepInOrderAcrossReceives) {
    TlsRecordBuffer buffer;
    const Bytes first = Counting(300, 0);
    const Bytes second = Counting(200, 100);
    Receive(buffer, first);
    buffer.KeepLast(120);  // a step used 180 bytes
    Receive(buffer, second);
    Bytes expected(first.end() - 120, first.end());
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(PendingCopy(buffer), expected);

    buffer.KeepLast(0);
    EXPECT_TRUE(buffer.Pending().empty());
    EXPECT_EQ(buffer.SpaceForReceive().size(), 4 * kMaxTlsRecord) << "an empty buffer starts over at the front";
}

TEST(TlsRecordBuffer, MovesAnIncompleteRecordToTheFrontWhenTheRoomBehindItIsTooSmall) {
    TlsRecordBuffer buffer(2 * kMaxTlsRecord);
    const Bytes full = Counting(2 * kMaxTlsRecord - 10, 1);
    Receive(buffer, full);
    buffer.KeepLast(kMaxTlsRecord - 100);  // the start of a record that is not complete yet
    const std::span<std::uint8_t> space = buffer.SpaceForReceive();
    EXPECT_EQ(space.size(), kMaxTlsRecord + 100);
    EXPECT_EQ(PendingCopy(buffer), Bytes(full.end() - (kMaxTlsRecord - 100), full.end()));

    Receive(buffer, Counting(100, 7));
    EXPECT_EQ(buffer.Pending().size(), kMaxTlsRecord);
    EXPECT_EQ(buffer.Pending().back(), 7 + 99);
}

TEST(TlsRecordBuffer, OffersNoRoomWhenPendingBytesFillIt) {
    TlsRecordBuffer buffer(2 * kMaxTlsRecord);
    Receive(buffer, Bytes(2 * kMaxTlsRecord, 1));
    EXPECT_TRUE(buffer.SpaceForReceive().empty());
    buffer.Received(5);  // ignored: there was no room
    EXPECT_EQ(buffer.Pending().size(), 2 * kMaxTlsRecord);
}

TEST(TlsRecordBuffer, HandsOutDecryptedBytesInTheSizesAskedFor) {
    TlsRecordBuffer buffer;
    const Bytes record = Counting(1000, 3);
    buffer.AddPlain(record);
    Bytes out(1000);
    EXPECT_EQ(buffer.TakePlain(out.data(), 1), 1u);
    EXPECT_EQ(buffer.TakePlain(out.data() + 1, 600), 600u);
    buffer.AddPlain(Counting(10, 200));  // a second record while the first is not all taken
    EXPECT_EQ(buffer.TakePlain(out.data() + 601, 399), 399u);
    EXPECT_EQ(out, record);
    Bytes rest(64);
    EXPECT_EQ(buffer.TakePlain(rest.data(), rest.size()), 10u);
    EXPECT_EQ(rest[9], 209);
    EXPECT_FALSE(buffer.HasPlain());
}

}  // namespace
}  // namespace ostrevane
