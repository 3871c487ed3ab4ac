// The WinDivert stand-in used by the tunnel tests and the demo, loaded through the client's own binding.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>

#include "support/divert_files_choice.h"
#include "support/divert_harness.h"
#include "support/genuine_divert.h"
#include "tunnel/divert_api.h"

namespace ostrevane {
namespace {

using namespace std::chrono_literals;

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::UseDivertLibraryIn(testing::DivertStandinDirectory());
        api_ = LoadDivertApi();
    }
    void TearDown() override {
        api_.reset();
        testing::UseEmbeddedDivertFiles();
    }
    std::vector<unsigned char> UdpPacket(std::size_t payload) {
        std::vector<unsigned char> packet(28 + payload, 0x5A);
        packet[0] = 0x45;
        packet[2] = static_cast<unsigned char>(packet.size() >> 8);
        packet[3] = static_cast<unsigned char>(packet.size());
        packet[6] = packet[7] = 0;
        packet[8] = 64;
        packet[9] = 17;
        packet[24] = static_cast<unsigned char>((8 + payload) >> 8);
        packet[25] = static_cast<unsigned char>(8 + payload);
        return packet;
    }
    std::unique_ptr<DivertApi> api_;
};

TEST_F(StandinTest, OpenReportsFilterLayerPriorityAndFlags) {
    testing::DivertHarness harness;
    HANDLE capture = api_->open("outbound and ip", WINDIVERT_LAYER_NETWORK, -300, 0);
    HANDLE injection = api_->open("false", WINDIVERT_LAYER_NETWORK, -301, WINDIVERT_FLAG_SEND_ONLY);
    ASSERT_NE(capture, INVALID_HANDLE_VALUE);
    ASSERT_NE(injection, INVALID_HANDLE_VALUE);
    const auto opens = harness.Opens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].filter, "outbound and ip");
    EXPECT_EQ(opens[0].priority, -300);
    EXPECT_EQ(opens[0].flags, 0u);
    EXPECT_EQ(opens[1].filter, "false");
    EXPECT_EQ(opens[1].priority, -301);
    EXPECT_EQ(opens[1].flags, static_cast<std::uint64_t>(WINDIVERT_FLAG_SEND_ONLY));
    EXPECT_TRUE(api_->close(capture));
    EXPECT_TRUE(api_->close(injection));
    EXPECT_FALSE(api_->close(injection)) << "a handle closes once";
}

TEST_F(StandinTest, OpenFailsWithoutOrAgainstARefusingHarness) {
    EXPECT_EQ(api_->open("true", WINDIVERT_LAYER_NETWORK, 0, 0), INVALID_HANDLE_VALUE);
    testing::DivertHarness harness;
    harness.RefuseOpens(true);
    EXPECT_EQ(api_->open("true", WINDIVERT_LAYER_NETWORK, 0, 0), INVALID_HANDLE_VALUE);
}

TEST_F(StandinTest, CaptureDeliversHarnessPacketsWithTheirInterfaces) {
    testing::DivertHarness harness;
    HANDLE capture = api_->open("true", WINDIVERT_LAYER_NETWORK, -300, 0);
    ASSERT_NE(capture, INVALID_HANDLE_VALUE);
    const auto packet = UdpPacket(100);
    ASSERT_TRUE(harness.SendPacket(packet, 7, 3));
    std::vector<unsigned char> buffer(65535);
    UINT length = 0;
    WINDIVERT_ADDRESS address{};
    ASSERT_TRUE(api_->recv(capture, buffer.data(), static_cast<UINT>(buffer.size()), &length, &address));
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + length), packet);
    EXPECT_EQ(address.Network.IfIdx, 7u);
    EXPECT_EQ(address.Network.SubIfIdx, 3u);
    EXPECT_EQ(address.Outbound, 1u);
    api_->close(capture);
}

TEST_F(StandinTest, ABatchedReceiveTakesPacketsSentTogetherBackToBackWithinItsRoom) {
    testing::DivertHarness harness;
    ASSERT_NE(api_->recvEx, nullptr);
    HANDLE capture = api_->open("true", WINDIVERT_LAYER_NETWORK, -300, 0);
    ASSERT_NE(capture, INVALID_HANDLE_VALUE);
    const std::vector<std::vector<unsigned char>> packets = {UdpPacket(10), UdpPacket(1372), UdpPacket(0)};
    ASSERT_TRUE(harness.SendPackets(packets, 9, 2));
    ASSERT_TRUE(harness.SendPacket(UdpPacket(5), 4, 0));
    std::vector<unsigned char> buffer(65535);
    std::vector<WINDIVERT_ADDRESS> addresses(2);
    UINT length = 0;
    UINT addressesLength = 2 * sizeof(WINDIVERT_ADDRESS);
    ASSERT_TRUE(api_->recvEx(capture, buffer.data(), static_cast<UINT>(buffer.size()), &length, 0, addresses.data(),
                             &addressesLength, nullptr));
    EXPECT_EQ(addressesLength, 2 * sizeof(WINDIVERT_ADDRESS)) << "as many as the address array holds";
    std::vector<unsigned char> expected = packets[0];
    expected.insert(expected.end(), packets[1].begin(), packets[1].end());
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + length), expected);
    EXPECT_EQ(addresses[1].Network.IfIdx, 9u);
    EXPECT_EQ(addresses[1].Network.SubIfIdx, 2u);
    EXPECT_EQ(addresses[1].Outbound, 1u);
    addressesLength = 2 * sizeof(WINDIVERT_ADDRESS);
    ASSERT_TRUE(api_->recvEx(capture, buffer.data(), static_cast<UINT>(buffer.size()), &length, 0, addresses.data(),
                             &addressesLength, nullptr));
    EXPECT_EQ(addressesLength, sizeof(WINDIVERT_ADDRESS)) << "the rest of the batch, without the next datagram";
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + length), packets[2]);
    WINDIVERT_ADDRESS single{};
    ASSERT_TRUE(api_->recv(capture, buffer.data(), static_cast<UINT>(buffer.size()), &length, &single));
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + length), UdpPacket(5));
    EXPECT_EQ(single.Network.IfIdx, 4u);
    api_->close(capture);
}

TEST_F(StandinTest, InjectionReachesTheHarness) {
    testing::DivertHarness harness;
    HANDLE injection = api_->open("false", WINDIVERT_LAYER_NETWORK, -301, WINDIVERT_FLAG_SEND_ONLY);
    ASSERT_NE(injection, INVALID_HANDLE_VALUE);
    const auto packet = UdpPacket(1);
    WINDIVERT_ADDRESS address{};
    address.Network.IfIdx = 12;
    address.Network.SubIfIdx = 1;
    UINT sent = 0;
    ASSERT_TRUE(api_->send(injection, packet.data(), static_cast<UINT>(packet.size()), &sent, &address));
    EXPECT_EQ(sent, packet.size());
    const auto injected = harness.NextInjection(2s);
    ASSERT_TRUE(injected);
    EXPECT_EQ(injected->packet, packet);
    EXPECT_EQ(injected->interfaceIndex, 12u);
    EXPECT_EQ(injected->subInterfaceIndex, 1u);
    EXPECT_FALSE(injected->outbound);
    api_->close(injection);
}

TEST_F(StandinTest, ClosingEndsABlockedReceive) {
    testing::DivertHarness harness;
    HANDLE capture = api_->open("true", WINDIVERT_LAYER_NETWORK, -300, 0);
    ASSERT_NE(capture, INVALID_HANDLE_VALUE);
    auto receive = std::async(std::launch::async, [&] {
        std::vector<unsigned char> buffer(65535);
        UINT length = 0;
        WINDIVERT_ADDRESS address{};
        return api_->recv(capture, buffer.data(), static_cast<UINT>(buffer.size()), &length, &address);
    });
    EXPECT_EQ(receive.wait_for(300ms), std::future_status::timeout) << "the receive must block";
    api_->close(capture);
    ASSERT_EQ(receive.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(receive.get());
}

TEST_F(StandinTest, ChecksumsEqualTheGenuineHelper) {
    testing::GenuineDivert genuine;
    ASSERT_TRUE(genuine.loaded());
    std::mt19937 random(3);
    for (int round = 0; round < 400; ++round) {
        const unsigned char protocol = std::array<unsigned char, 3>{1, 6, 17}[round % 3];
        const std::size_t headerLength = 20 + 4 * (random() % 3);
        const std::size_t transportLength = (protocol == 6 ? 20 : 8) + random() % 200;
        std::vector<unsigned char> packet(headerLength + transportLength);
        for (auto& b : packet) {
            b = static_cast<unsigned char>(random());
        }
        packet[0] = static_cast<unsigned char>(0x40 | (headerLength / 4));
        packet[2] = static_cast<unsigned char>(packet.size() >> 8);
        packet[3] = static_cast<unsigned char>(packet.size());
        packet[6] = packet[7] = 0;
        packet[9] = protocol;
        if (protocol == 6) {
            packet[headerLength + 12] = 0x50;
        }
        if (protocol == 17) {
            packet[headerLength + 4] = static_cast<unsigned char>(transportLength >> 8);
            packet[headerLength + 5] = static_cast<unsigned char>(transportLength);
        }
        auto ours = packet;
        auto theirs = packet;
        ASSERT_TRUE(api_->calcChecksums(ours.data(), static_cast<UINT>(ours.size()), nullptr, 0));
        ASSERT_TRUE(genuine.CalcChecksums(theirs.data(), static_cast<unsigned>(theirs.size())));
        EXPECT_EQ(ours, theirs) << "protocol " << int(protocol) << " header " << headerLength;
    }
}

}  // namespace
}  // namespace ostrevane
