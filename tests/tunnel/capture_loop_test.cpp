#include "tunnel/capture_loop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "support/data_path_fixture.h"
#include "support/packet_checksum.h"

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Ip;
using testing::PacketFields;
using testing::Recorder;
using testing::ScriptedReceive;

// The pauses that the loops asked for, instead of sleeping.
std::vector<std::chrono::milliseconds> gPauses;
void RecordPause(std::chrono::milliseconds duration) { gPauses.push_back(duration); }

Bytes Syn(std::uint32_t destination, std::uint16_t sourcePort) {
    PacketFields fields;
    fields.protocol = 6;
    fields.source = Ip(192, 168, 1, 50);
    fields.destination = destination;
    fields.sourcePort = sourcePort;
    fields.destinationPort = 22;
    fields.tcpFlags = 0x02;
    return testing::BuildPacket(fields);
}

class CaptureLoopTest : public testing::DataPathTest {
protected:
    void SetUp() override {
        DataPathTest::SetUp();
        gPauses.clear();
        path.pause = &RecordPause;
    }

    // Plays the packets through CaptureLoop on this thread; once they are used up, the next
    // receive fails like one on a closed handle and the script's end clears running.
    void Capture(std::vector<ScriptedReceive> script) {
        Recorder().script.assign(script.begin(), script.end());
        Recorder().onScriptEnd = [this] { path.running = false; };
        path.running = true;
        CaptureLoop(path);
    }

    static ScriptedReceive Received(Bytes bytes, std::uint32_t interfaceIndex = 5) {
        return ScriptedReceive{std::move(bytes), Diverted(interfaceIndex, 1), false};
    }
};

TEST_F(CaptureLoopTest, ReceivesIntoTheLargestPacketBufferFromTheCaptureHandle) {
    Capture({Received(Syn(Ip(100, 80, 0, 9), 1000))});
    EXPECT_EQ(Recorder().lastReceiveBufferLength, 65535u);
    EXPECT_EQ(Recorder().lastReceiveHandle, kCaptureHandle);
    EXPECT_EQ(Recorder().receiveCalls, 2) << "one packet, then the failure that ends the loop";
}

TEST_F(CaptureLoopTest, TranslatesAndQueuesValidPackets) {
    Capture({Received(Syn(Ip(100, 80, 0, 9), 1000), 5), Received(Syn(Ip(10, 20, 1, 1), 1001), 6)});
    const auto queued = DrainQueue();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(testing::ReadAddress(queued[0], 12), kTunnelAddress);
    EXPECT_EQ(testing::ReadAddress(queued[0], 16), Ip(192, 168, 1, 9));
    EXPECT_EQ(testing::ReadAddress(queued[1], 16), Ip(10, 20, 1, 1));
    EXPECT_EQ(testing::ChecksumProblems(queued[0]), "");
    EXPECT_EQ(path.flows.at(FlowKey{6, kTunnelAddress, 1000, Ip(192, 168, 1, 9), 22}).interfaceIndex, 5u);
    EXPECT_EQ(path.flows.at(FlowKey{6, kTunnelAddress, 1001, Ip(10, 20, 1, 1), 22}).interfaceIndex, 6u);
    EXPECT_TRUE(Recorder().sent.empty());
    EXPECT_TRUE(gPauses.empty());
}

TEST_F(CaptureLoopTest, PutsBackPacketsThatFailValidationUnchanged) {
    Bytes ipv6 = Syn(Ip(100, 80, 0, 9), 1000);
    ipv6[0] = 0x60;
    Bytes tooLong = Syn(Ip(100, 80, 0, 9), 1000);
    tooLong[3] += 1;  // total length one byte more than received
    const std::vector<Bytes> invalid = {Bytes(19, 0x45), ipv6, tooLong};
    std::vector<ScriptedReceive> script;
    for (std::size_t i = 0; i < invalid.size(); ++i) {
        script.push_back(Received(invalid[i], static_cast<std::uint32_t>(20 + i)));
        script.back().address.Timestamp = 123456789 + static_cast<INT64>(i);
    }
    const auto played = script;
    Capture(script);
    ASSERT_EQ(Recorder().sent.size(), invalid.size());
    for (std::size_t i = 0; i < invalid.size(); ++i) {
        const testing::SentPacket& sent = Recorder().sent[i];
        EXPECT_EQ(sent.bytes, invalid[i]) << i;
        EXPECT_EQ(sent.handle, kInjectionHandle) << i;
        EXPECT_EQ(std::memcmp(&sent.address, &played[i].address, sizeof(WINDIVERT_ADDRESS)), 0)
            << i << ": the address record goes back exactly as received";
    }
    EXPECT_EQ(path.sendQueue.Size(), 0u);
    EXPECT_TRUE(path.flows.empty());
}

TEST_F(CaptureLoopTest, DropsValidPacketsOutsideTheMappingsWithoutAWord) {
    Capture({Received(Syn(Ip(8, 8, 8, 8), 1000))});
    EXPECT_EQ(path.sendQueue.Size(), 0u);
    EXPECT_TRUE(Recorder().sent.empty());
    EXPECT_TRUE(gPauses.empty());
}

TEST_F(CaptureLoopTest, AFailedReceiveStartsOverAtOnce) {
    Capture({ScriptedReceive{{}, {}, true}, Received(Syn(Ip(100, 80, 0, 9), 1000))});
    EXPECT_EQ(path.sendQueue.Size(), 1u);
    EXPECT_TRUE(gPauses.empty());
}

TEST_F(CaptureLoopTest, AFailedChecksumLosesThePacketAndPauses50Milliseconds) {
    Recorder().failChecksums = true;
    Capture({Received(Syn(Ip(100, 80, 0, 9), 1000)), Received(Bytes(19, 0))});
    EXPECT_EQ(path.sendQueue.Size(), 0u);
    EXPECT_EQ(gPauses, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(50)});
    EXPECT_EQ(Recorder().sent.size(), 1u) << "the loop went on with the next packet";
}

TEST_F(CaptureLoopTest, AFailedReinjectionLosesThePacketAndPauses50Milliseconds) {
    Recorder().failSends = true;
    Capture({Received(Bytes(19, 0)), Received(Syn(Ip(100, 80, 0, 9), 1000))});
    EXPECT_EQ(gPauses, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(50)});
    EXPECT_EQ(path.sendQueue.Size(), 1u) << "the loop went on with the next packet";
}

TEST_F(CaptureLoopTest, ABatchedReceiveHandsEveryPacketOnWithItsOwnAddressRecord) {
    path.api->recvEx = testing::RecordingBatchReceive();
    Bytes invalid = Syn(Ip(100, 80, 0, 9), 1000);
    invalid[0] = 0x60;  // an IPv6 version nibble, but the IPv4 length field still ends it
    Capture({Received(Syn(Ip(100, 80, 0, 9), 1000), 5), Received(invalid, 6), Received(Syn(Ip(10, 20, 1, 1), 1001), 7)});
    EXPECT_EQ(Recorder().receiveCalls, 2) << "three packets in one call, then the failure that ends the loop";
    EXPECT_GE(Recorder().lastReceiveBufferLength, 4u * 65535u);
    const auto queued = DrainQueue();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(testing::ReadAddress(queued[0], 16), Ip(192, 168, 1, 9));
    EXPECT_EQ(testing::ReadAddress(queued[1], 16), Ip(10, 20, 1, 1));
    EXPECT_EQ(testing::ChecksumProblems(queued[1]), "");
    EXPECT_EQ(path.flows.at(FlowKey{6, kTunnelAddress, 1001, Ip(10, 20, 1, 1), 22}).interfaceIndex, 7u);
    ASSERT_EQ(Recorder().sent.size(), 1u);
    EXPECT_EQ(Recorder().sent[0].bytes, invalid);
    EXPECT_EQ(Recorder().sent[0].address.Network.IfIdx, 6u);
    const TunnelCounterValues counted = path.counters.Snapshot();
    EXPECT_EQ(counted.packetsCaptured, 3u);
    EXPECT_EQ(counted.divertReceives, 2u);
    EXPECT_EQ(counted.divertSends, 1u);
}

TEST_F(CaptureLoopTest, EndsWhenStoppingIsSetEvenWhileRunning) {
    Recorder().onScriptEnd = [this] { path.stopping = true; };
    path.running = true;
    CaptureLoop(path);
    EXPECT_EQ(Recorder().receiveCalls, 1);
    EXPECT_TRUE(path.running);
}

TEST_F(CaptureLoopTest, DoesNotReceiveWhenTheTunnelIsNotRunning) {
    CaptureLoop(path);
    EXPECT_EQ(Recorder().receiveCalls, 0);
}

class DispatchInboundTest : public CaptureLoopTest {
protected:
    // An outbound SYN to 100.80.0.9 from port 1000 on interface 5, and the device's answer.
    void SetUp() override {
        CaptureLoopTest::SetUp();
        Capture({Received(Syn(Ip(100, 80, 0, 9), 1000), 5)});
        DrainQueue();
        PacketFields answer;
        answer.protocol = 6;
        answer.source = Ip(192, 168, 1, 9);
        answer.destination = kTunnelAddress;
        answer.sourcePort = 22;
        answer.destinationPort = 1000;
        answer.tcpFlags = 0x12;
        reply = testing::BuildPacket(answer);
    }

    Bytes reply;
};

TEST_F(DispatchInboundTest, TranslatesAndInjectsAReply) {
    DispatchInbound(path, reply);
    ASSERT_EQ(Recorder().sent.size(), 1u);
    EXPECT_EQ(testing::ReadAddress(Recorder().sent[0].bytes, 12), Ip(100, 80, 0, 9));
    EXPECT_EQ(testing::ReadAddress(Recorder().sent[0].bytes, 16), Ip(192, 168, 1, 50));
    EXPECT_EQ(Recorder().sent[0].address.Network.IfIdx, 5u);
}

TEST_F(DispatchInboundTest, DropsEverythingWithoutAnInjectionHandle) {
    path.injectionHandle = INVALID_HANDLE_VALUE;
    DispatchInbound(path, reply);
    EXPECT_TRUE(Recorder().sent.empty());
    EXPECT_EQ(Recorder().checksumCalls.size(), 1u) << "only the outbound SYN's";
}

TEST_F(DispatchInboundTest, DropsEverythingWithoutAWinDivertTable) {
    std::unique_ptr<DivertApi> api = std::move(path.api);
    DispatchInbound(path, reply);
    path.api = std::move(api);
    EXPECT_TRUE(Recorder().sent.empty());
    EXPECT_EQ(Recorder().checksumCalls.size(), 1u);
}

TEST_F(DispatchInboundTest, DropsPacketsThatFailValidation) {
    Bytes ipv6 = reply;
    ipv6[0] = 0x65;
    Bytes cut(reply.begin(), reply.end() - 1);
    Bytes igmp = reply;
    igmp[9] = 2;
    Bytes empty;
    for (Bytes* packet : {&ipv6, &cut, &igmp, &empty}) {
        DispatchInbound(path, *packet);
    }
    EXPECT_TRUE(Recorder().sent.empty());
    EXPECT_EQ(Recorder().checksumCalls.size(), 1u);
    EXPECT_TRUE(gPauses.empty());
}

TEST_F(DispatchInboundTest, AFailedInjectionLosesThePacketAndPauses20Milliseconds) {
    Recorder().failSends = true;
    DispatchInbound(path, reply);
    EXPECT_EQ(gPauses, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(20)});
    EXPECT_TRUE(NatMutexIsFree());
}

TEST_F(DispatchInboundTest, AFailureWhileStoppingDoesNotPause) {
    Recorder().failChecksums = true;
    path.stopping = true;
    DispatchInbound(path, reply);
    EXPECT_TRUE(gPauses.empty());
    EXPECT_TRUE(Recorder().sent.empty());
}

TEST_F(DispatchInboundTest, RepliesFromTwoThreadsWhileTheCaptureThreadAddsFlows) {
    // The relay thread and the UDP thread deliver at the same time as new flows are recorded.
    std::vector<ScriptedReceive> script;
    for (std::uint16_t port = 2000; port < 4000; ++port) {
        script.push_back(Received(Syn(Ip(100, 80, 0, 9), port), 5));
    }
    Recorder().script.assign(script.begin(), script.end());
    Recorder().onScriptEnd = [this] { path.running = false; };
    path.running = true;
    std::thread capture([this] { CaptureLoop(path); });
    auto deliver = [this] {
        for (int i = 0; i < 1000; ++i) {
            Bytes copy = reply;
            DispatchInbound(path, copy);
        }
    };
    std::thread relay(deliver);
    std::thread udp(deliver);
    relay.join();
    udp.join();
    capture.join();
    EXPECT_EQ(path.flows.size(), 2001u);
    EXPECT_EQ(Recorder().sent.size(), 2000u);
    for (const testing::SentPacket& sent : Recorder().sent) {
        ASSERT_EQ(testing::ReadAddress(sent.bytes, 16), Ip(192, 168, 1, 50));
        ASSERT_EQ(testing::ChecksumProblems(sent.bytes), "");
    }
}

TEST(PauseThread, SleepsAtLeastTheGivenTime) {
    const auto start = std::chrono::steady_clock::now();
    PauseThread(std::chrono::milliseconds(20));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(19));
}

TEST(TunnelDataPath, ClosesTheCaptureHandleThenTheInjectionHandleOnce) {
    testing::GenuineDivert genuine;
    TunnelDataPath path;
    path.api = testing::MakeRecordingDivertApi(genuine);
    path.captureHandle = reinterpret_cast<HANDLE>(0x11);
    path.injectionHandle = reinterpret_cast<HANDLE>(0x22);
    path.CloseHandles();
    path.CloseHandles();
    EXPECT_EQ(Recorder().closed, (std::vector<HANDLE>{reinterpret_cast<HANDLE>(0x11), reinterpret_cast<HANDLE>(0x22)}));
    EXPECT_EQ(path.captureHandle.load(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(path.injectionHandle.load(), INVALID_HANDLE_VALUE);
}

TEST(TunnelDataPath, ClosesOpenHandlesWhenDestroyed) {
    testing::GenuineDivert genuine;
    {
        TunnelDataPath path;
        path.api = testing::MakeRecordingDivertApi(genuine);
        path.injectionHandle = reinterpret_cast<HANDLE>(0x22);
    }
    EXPECT_EQ(Recorder().closed, std::vector<HANDLE>{reinterpret_cast<HANDLE>(0x22)});
}

}  // namespace
}  // namespace ostrevane
