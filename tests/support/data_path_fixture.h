// A test fixture holding a tunnel data path wired to the recording WinDivert table: the genuine
// checksum helper, recorded injections, scripted receives. The site network 192.168.1.0/24 is
// reached through 100.80.0.0/24 (the local LAN uses 192.168.1.0/24 too), 10.20.0.0/16 under its
// own addresses, and the tunnel address is 100.64.0.7.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "support/genuine_divert.h"
#include "support/packet_builder.h"
#include "support/recording_divert.h"
#include "tunnel/tunnel_data_path.h"

namespace ostrevane::testing {

class DataPathTest : public ::testing::Test {
protected:
    static inline const HANDLE kCaptureHandle = reinterpret_cast<HANDLE>(0x4141);
    static inline const HANDLE kInjectionHandle = reinterpret_cast<HANDLE>(0x5151);
    static constexpr std::uint32_t kTunnelAddress = Ip(100, 64, 0, 7);

    void SetUp() override {
        ASSERT_TRUE(genuine.loaded());
        path.api = MakeRecordingDivertApi(genuine);
        path.captureHandle = kCaptureHandle;
        path.injectionHandle = kInjectionHandle;
        path.assignedAddress = kTunnelAddress;
        path.mappings = {{Ip(192, 168, 1, 0), 24, Ip(100, 80, 0, 0), 24, true},
                         {Ip(10, 20, 0, 0), 16, Ip(10, 20, 0, 0), 16, false}};
    }

    // The diversion record of an outbound packet that left on the given interface.
    static WINDIVERT_ADDRESS Diverted(std::uint32_t interfaceIndex, std::uint32_t subInterfaceIndex) {
        WINDIVERT_ADDRESS address{};
        address.Layer = WINDIVERT_LAYER_NETWORK;
        address.Outbound = 1;
        address.Network.IfIdx = interfaceIndex;
        address.Network.SubIfIdx = subInterfaceIndex;
        return address;
    }

    std::vector<std::vector<std::uint8_t>> DrainQueue() {
        std::vector<std::vector<std::uint8_t>> packets;
        const std::atomic<bool> stopping{true};
        while (auto packet = path.sendQueue.WaitPop(stopping)) {
            packets.push_back(std::move(*packet));
        }
        return packets;
    }

    bool NatMutexIsFree() {
        if (!path.natMutex.try_lock()) {
            return false;
        }
        path.natMutex.unlock();
        return true;
    }

    GenuineDivert genuine;
    TunnelDataPath path;
};

}  // namespace ostrevane::testing
