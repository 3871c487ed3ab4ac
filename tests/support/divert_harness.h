// The test side of the WinDivert stand-in: answers its opens, feeds packets to its capture
// handles and collects what the code under test injects. Points the stand-in at itself through
// the process environment, so the stand-in loaded into this process finds it.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ostrevane::testing {

struct HarnessOpen {
    std::uint32_t handle = 0;
    int layer = 0;
    int priority = 0;
    std::uint64_t flags = 0;
    std::string filter;
    sockaddr_in from{};
};

struct HarnessInjection {
    std::uint32_t handle = 0;
    std::uint32_t interfaceIndex = 0;
    std::uint32_t subInterfaceIndex = 0;
    bool outbound = false;
    std::vector<unsigned char> packet;
};

// Directory that holds the stand-in WinDivert.dll.
std::wstring DivertStandinDirectory();

class DivertHarness {
public:
    DivertHarness();  // binds 127.0.0.1:0, sets OSTREVANE_DIVERT_HARNESS, starts the answering thread
    ~DivertHarness();
    DivertHarness(const DivertHarness&) = delete;
    DivertHarness& operator=(const DivertHarness&) = delete;

    void RefuseOpens(bool refuse) { refuseOpens_ = refuse; }
    std::vector<HarnessOpen> Opens() const;
    std::vector<std::uint32_t> Closes() const;

    // Sends one outbound packet to the newest capture handle (one opened without the send-only flag).
    bool SendPacket(const std::vector<unsigned char>& packet, std::uint32_t interfaceIndex,
                    std::uint32_t subInterfaceIndex);
    // Several packets in one datagram, for the stand-in to hand out as one batch (up to 60 KB).
    bool SendPackets(const std::vector<std::vector<unsigned char>>& packets, std::uint32_t interfaceIndex,
                     std::uint32_t subInterfaceIndex);
    // Waits until a capture handle is open.
    bool WaitForCaptureHandle(std::chrono::milliseconds timeout);
    std::optional<HarnessInjection> NextInjection(std::chrono::milliseconds timeout);

private:
    bool SendDatagram(const std::vector<unsigned char>& datagram);
    void Run();

    SOCKET socket_ = INVALID_SOCKET;
    std::atomic<bool> stop_{false};
    std::atomic<bool> refuseOpens_{false};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HarnessOpen> opens_;
    std::vector<std::uint32_t> closes_;
    std::deque<HarnessInjection> injections_;
    std::thread thread_;
};

}  // namespace ostrevane::testing
