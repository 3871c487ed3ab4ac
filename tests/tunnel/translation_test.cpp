#include "tunnel/translation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "support/data_path_fixture.h"
#include "support/packet_checksum.h"

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Ip;
using testing::Recorder;

class TranslationTest : public testing::DataPathTest {
protected:
    void Outbound(const Bytes& packet, const WINDIVERT_ADDRESS& address = Diverted(7, 2)) {
        const auto view = ValidatePacket(packet);
        ASSERT_TRUE(view.has_value());
        TranslateOutbound(path, packet, *view, address);
    }

    void Inbound(Bytes packet) {
        const auto view = ValidatePacket(packet);
        ASSERT_TRUE(view.has_value());
        TranslateInbound(path, packet, *view);
    }
};

// SYN 192.168.1.50:49152 -> 100.80.0.25:3389, MSS 1460, NOP NOP, SACK permitted; checksums
// not yet filled in (offloaded), as the driver often delivers them.
const Bytes kSyn = {
    0x45, 0x00, 0x00, 0x30, 0x12, 0x34, 0x40, 0x00, 0x80, 0x06, 0x00, 0x00,
    0xc0, 0xa8, 0x01, 0x32, 0x64, 0x50, 0x00, 0x19,                          // 192.168.1.50 -> 100.80.0.25
    0xc0, 0x00, 0x0d, 0x3d, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00,  // 49152 -> 3389, seq
    0x70, 0x02, 0xfa, 0xf0, 0x00, 0x00, 0x00, 0x00,                          // 28-byte header, SYN
    0x02, 0x04, 0x05, 0xb4, 0x01, 0x01, 0x04, 0x02,                          // MSS 1460, NOP NOP, SACK ok
};
// What the relay carries: 100.64.0.7 -> 192.168.1.25, MSS 1310, both checksums filled in.
const Bytes kSynToSite = {
    0x45, 0x00, 0x00, 0x30, 0x12, 0x34, 0x40, 0x00, 0x80, 0x06, 0xc2, 0x8b,
    0x64, 0x40, 0x00, 0x07, 0xc0, 0xa8, 0x01, 0x19,
    0xc0, 0x00, 0x0d, 0x3d, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00,
    0x70, 0x02, 0xfa, 0xf0, 0x91, 0x78, 0x00, 0x00,
    0x02, 0x04, 0x05, 0x1e, 0x01, 0x01, 0x04, 0x02,
};
// The device's SYN-ACK as the relay delivers it: 192.168.1.25:3389 -> 100.64.0.7:49152, MSS 1460.
const Bytes kSynAckFromSite = {
    0x45, 0x00, 0x00, 0x30, 0x56, 0x78, 0x40, 0x00, 0x40, 0x06, 0x00, 0x00,
    0xc0, 0xa8, 0x01, 0x19, 0x64, 0x40, 0x00, 0x07,
    0x0d, 0x3d, 0xc0, 0x00, 0x0a, 0x0b, 0x0c, 0x0d, 0x01, 0x02, 0x03, 0x05,
    0x70, 0x12, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00,
    0x02, 0x04, 0x05, 0xb4, 0x01, 0x01, 0x04, 0x02,
};
// What the program receives: 100.80.0.25 -> 192.168.1.50, MSS untouched inbound.
const Bytes kSynAckInjected = {
    0x45, 0x00, 0x00, 0x30, 0x56, 0x78, 0x40, 0x00, 0x40, 0x06, 0xbe, 0x0c,
    0x64, 0x50, 0x00, 0x19, 0xc0, 0xa8, 0x01, 0x32,
    0x0d, 0x3d, 0xc0, 0x00, 0x0a, 0x0b, 0x0c, 0x0d, 0x01, 0x02, 0x03, 0x05,
    0x70, 0x12, 0xff, 0xff, 0x75, 0x6f, 0x00, 0x00,
    0x02, 0x04, 0x05, 0xb4, 0x01, 0x01, 0x04, 0x02,
};

// Echo request 192.168.1.50 -> 100.80.0.25, identifier 1, sequence 1, payload "hello" (odd length).
const Bytes kPing = {
    0x45, 0x00, 0x00, 0x21, 0xab, 0xcd, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00,
    0xc0, 0xa8, 0x01, 0x32, 0x64, 0x50, 0x00, 0x19,
    0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x68, 0x65, 0x6c, 0x6c, 0x6f,
};
const Bytes kPingToSite = {
    0x45, 0x00, 0x00, 0x21, 0xab, 0xcd, 0x00, 0x00, 0x40, 0x01, 0xa9, 0x06,
    0x64, 0x40, 0x00, 0x07, 0xc0, 0xa8, 0x01, 0x19,
    0x08, 0x00, 0xb4, 0x2b, 0x00, 0x01, 0x00, 0x01, 0x68, 0x65, 0x6c, 0x6c, 0x6f,
};
const Bytes kPongFromSite = {
    0x45, 0x00, 0x00, 0x21, 0x00, 0x01, 0x00, 0x00, 0x3f, 0x01, 0x00, 0x00,
    0xc0, 0xa8, 0x01, 0x19, 0x64, 0x40, 0x00, 0x07,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x68, 0x65, 0x6c, 0x6c, 0x6f,
};
const Bytes kPongInjected = {
    0x45, 0x00, 0x00, 0x21, 0x00, 0x01, 0x00, 0x00, 0x3f, 0x01, 0x55, 0x98,
    0x64, 0x50, 0x00, 0x19, 0xc0, 0xa8, 0x01, 0x32,
    0x00, 0x00, 0xbc, 0x2b, 0x00, 0x01, 0x00, 0x01, 0x68, 0x65, 0x6c, 0x6c, 0x6f,
};

TEST_F(TranslationTest, SynToARemappedDeviceLeavesFromTheTunnelAddressToTheSite) {
    Outbound(kSyn);
    EXPECT_EQ(DrainQueue(), std::vector<Bytes>{kSynToSite});
    const FlowKey key{6, Ip(100, 64, 0, 7), 49152, Ip(192, 168, 1, 25), 3389};
    ASSERT_EQ(path.flows.count(key), 1u);
    EXPECT_EQ(path.flows.at(key), (FlowEntry{Ip(192, 168, 1, 50), Ip(100, 80, 0, 25), 7, 2}));
}

TEST_F(TranslationTest, TheDevicesReplyReachesTheProgramOnTheSynsInterface) {
    Outbound(kSyn);
    Inbound(kSynAckFromSite);
    ASSERT_EQ(Recorder().sent.size(), 1u);
    const testing::SentPacket& sent = Recorder().sent[0];
    EXPECT_EQ(sent.bytes, kSynAckInjected);
    EXPECT_EQ(sent.handle, kInjectionHandle);
    WINDIVERT_ADDRESS expected{};  // network layer, inbound, nothing else set
    expected.Network.IfIdx = 7;
    expected.Network.SubIfIdx = 2;
    EXPECT_EQ(std::memcmp(&sent.address, &expected, sizeof expected), 0);
    EXPECT_EQ(sent.address.Outbound, 0u);
}

TEST_F(TranslationTest, ChecksumsAreRecalculatedOverTheTotalLengthWithAZeroRecord) {
    Bytes padded = kSyn;
    padded.insert(padded.end(), {0xee, 0xee, 0xee, 0xee});  // bytes after the total length
    Outbound(padded);
    Bytes expected = kSynToSite;
    expected.insert(expected.end(), {0xee, 0xee, 0xee, 0xee});
    EXPECT_EQ(DrainQueue(), std::vector<Bytes>{expected}) << "all received bytes are queued";
    ASSERT_EQ(Recorder().checksumCalls.size(), 1u);
    EXPECT_EQ(Recorder().checksumCalls[0].length, 48u);
    EXPECT_TRUE(Recorder().checksumCalls[0].zeroAddress);
    EXPECT_EQ(Recorder().checksumCalls[0].flags, 0u);

    Bytes reply = kSynAckFromSite;
    reply.insert(reply.end(), {0xee, 0xee});
    Inbound(reply);
    ASSERT_EQ(Recorder().checksumCalls.size(), 2u);
    EXPECT_EQ(Recorder().checksumCalls[1].length, 48u);
    EXPECT_TRUE(Recorder().checksumCalls[1].zeroAddress);
    ASSERT_EQ(Recorder().sent.size(), 1u);
    EXPECT_EQ(Recorder().sent[0].bytes, kSynAckInjected) << "only the total length is injected";
}

TEST_F(TranslationTest, PingAndItsReplyAreMatchedByTheEchoIdentifier) {
    Outbound(kPing, Diverted(12, 0));
    EXPECT_EQ(DrainQueue(), std::vector<Bytes>{kPingToSite});
    EXPECT_EQ(path.flows.count(FlowKey{1, Ip(100, 64, 0, 7), 1, Ip(192, 168, 1, 25), 0}), 1u);
    Inbound(kPongFromSite);
    ASSERT_EQ(Recorder().sent.size(), 1u);
    EXPECT_EQ(Recorder().sent[0].bytes, kPongInjected);
    EXPECT_EQ(Recorder().sent[0].address.Network.IfIdx, 12u);
}

TEST_F(TranslationTest, TwoPingsWithDifferentIdentifiersAreTwoFlows) {
    Bytes second = kPing;
    second[25] = 0x02;  // identifier 2
    Outbound(kPing, Diverted(12, 0));
    Outbound(second, Diverted(13, 0));
    EXPECT_EQ(path.flows.size(), 2u);

    Bytes secondPong = kPongFromSite;
    secondPong[25] = 0x02;
    Bytes unknownPong = kPongFromSite;
    unknownPong[25] = 0x03;
    Inbound(secondPong);
    Inbound(unknownPong);
    Inbound(kPongFromSite);
    ASSERT_EQ(Recorder().sent.size(), 2u) << "the reply with identifier 3 belongs to no flow";
    EXPECT_EQ(Recorder().sent[0].address.Network.IfIdx, 13u);
    EXPECT_EQ(Recorder().sent[1].address.Network.IfIdx, 12u);
    EXPECT_EQ(Recorder().sent[1].bytes, kPongInjected);
}

TEST_F(TranslationTest, ATargetThatIsNotRemappedKeepsItsAddressBothWays) {
    // UDP 192.168.1.50:5353 -> 10.20.3.4:53 and the answer, payload of three bytes.
    const Bytes query = {
        0x45, 0x00, 0x00, 0x1f, 0x00, 0x09, 0x00, 0x00, 0x40, 0x11, 0x00, 0x00,
        0xc0, 0xa8, 0x01, 0x32, 0x0a, 0x14, 0x03, 0x04,
        0x14, 0xe9, 0x00, 0x35, 0x00, 0x0b, 0x00, 0x00, 0x01, 0x02, 0x03,
    };
    const Bytes answer = {
        0x45, 0x00, 0x00, 0x1f, 0x00, 0x0a, 0x00, 0x00, 0x40, 0x11, 0x00, 0x00,
        0x0a, 0x14, 0x03, 0x04, 0x64, 0x40, 0x00, 0x07,
        0x00, 0x35, 0x14, 0xe9, 0x00, 0x0b, 0x00, 0x00, 0x04, 0x05, 0x06,
    };
    Outbound(query);
    const auto queued = DrainQueue();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(testing::ReadAddress(queued[0], 12), Ip(100, 64, 0, 7));
    EXPECT_EQ(testing::ReadAddress(queued[0], 16), Ip(10, 20, 3, 4));
    EXPECT_EQ(testing::ChecksumProblems(queued[0]), "");

    Inbound(answer);
    ASSERT_EQ(Recorder().sent.size(), 1u);
    const Bytes& injected = Recorder().sent[0].bytes;
    EXPECT_EQ(testing::ReadAddress(injected, 12), Ip(10, 20, 3, 4));
    EXPECT_EQ(testing::ReadAddress(injected, 16), Ip(192, 168, 1, 50));
    EXPECT_EQ(testing::ChecksumProblems(injected), "");
}

TEST_F(TranslationTest, APacketOutsideEveryMappingNetworkIsDroppedSilently) {
    Bytes elsewhere = kSyn;
    elsewhere[16] = 8, elsewhere[17] = 8, elsewhere[18] = 8, elsewhere[19] = 8;
    Outbound(elsewhere);
    EXPECT_EQ(path.sendQueue.Size(), 0u);
    EXPECT_TRUE(path.flows.empty());
    EXPECT_TRUE(Recorder().checksumCalls.empty());
    EXPECT_TRUE(Recorder().sent.empty());
}

TEST_F(TranslationTest, ALaterPacketOfTheSameFlowOverwritesItsEntry) {
    Outbound(kSyn, Diverted(7, 2));
    Outbound(kSyn, Diverted(9, 4));
    ASSERT_EQ(path.flows.size(), 1u);
    EXPECT_EQ(path.flows.begin()->second, (FlowEntry{Ip(192, 168, 1, 50), Ip(100, 80, 0, 25), 9, 4}));
    EXPECT_EQ(path.sendQueue.Size(), 2u);
}

TEST_F(TranslationTest, AReplyWithoutAFlowIsDropped) {
    Inbound(kSynAckFromSite);
    EXPECT_TRUE(Recorder().sent.empty());
    EXPECT_TRUE(Recorder().checksumCalls.empty());
}

TEST_F(TranslationTest, AReplyToAFlowFromBeforeTheTableWasEmptiedIsDropped) {
    Outbound(kSyn);
    path.flows.clear();  // what a reconnection of the relay does
    Inbound(kSynAckFromSite);
    EXPECT_TRUE(Recorder().sent.empty());
}

TEST_F(TranslationTest, AFailedOutboundChecksumLosesThePacketAndReleasesTheTable) {
    Recorder().failChecksums = true;
    try {
        Outbound(kSyn);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "WinDivert checksum recalculation failed.");
    }
    EXPECT_EQ(path.sendQueue.Size(), 0u);
    EXPECT_TRUE(path.flows.empty());
    EXPECT_TRUE(NatMutexIsFree());
}

TEST_F(TranslationTest, AFailedInboundChecksumIsReportedAndNothingIsInjected) {
    Outbound(kSyn);
    Recorder().failChecksums = true;
    try {
        Inbound(kSynAckFromSite);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "WinDivert checksum recalculation failed.");
    }
    EXPECT_TRUE(Recorder().sent.empty());
    EXPECT_TRUE(NatMutexIsFree());
}

TEST_F(TranslationTest, AFailedInjectionIsReported) {
    Outbound(kSyn);
    Recorder().failSends = true;
    try {
        Inbound(kSynAckFromSite);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "WinDivertSend failed.");
    }
    EXPECT_TRUE(NatMutexIsFree());
    EXPECT_EQ(path.flows.size(), 1u) << "the flow stays for the next reply";
}

}  // namespace
}  // namespace ostrevane
