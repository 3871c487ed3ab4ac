// The optional UDP path to the relay: negotiated with a hello and an acknowledgement that hands
// out a token, used only for small UDP packets, kept alive by repeating the hello, and best effort
// throughout: whenever it is not ready, packets take the WebSocket.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"
#include "tunnel/tunnel_data_path.h"

namespace ostrevane {

// Milliseconds of a monotonic clock; replaceable in tests.
using MonotonicClockFn = std::uint64_t (*)();
std::uint64_t SteadyMilliseconds();

struct UdpTimings {
    int helloAttempts = 4;
    DWORD helloTimeoutMs = 900;
    DWORD receiveTimeoutMs = 2000;
    int keepaliveSteps = 150;  // of 100 ms: a hello every 15 s
    std::uint64_t acknowledgementMaxAgeMs = 45000;
};

struct UdpPath {
    std::mutex udpMutex;
    UniqueSocket socket;              // guarded by udpMutex
    sockaddr_in endpoint{};           // guarded by udpMutex
    std::vector<unsigned char> hello; // guarded by udpMutex; repeated by the keep-alive
    WinsockSession winsock;           // guarded by udpMutex; settled by OpenUdpPath or the engine's stop

    std::atomic<std::uint64_t> token{0};               // of the last acknowledgement; 0 means none
    std::atomic<std::uint64_t> lastAcknowledgement{0}; // clock time of the last acknowledgement; 0 means none
    std::atomic<bool> ready{false};                    // UDP packets may travel as datagrams
    std::atomic<bool> open{false};                     // negotiated and not closed since; the keep-alive
                                                       // leaves its wait as soon as this clears

    std::thread receiveThread;   // UdpReceiveLoop
    std::thread keepaliveThread; // UdpKeepaliveLoop

    UdpTimings timings;
    MonotonicClockFn clock = &SteadyMilliseconds;
};

// The relay's UDP address: the host and port of the base URL (80 or 443 by scheme when none is
// written). Throws "getaddrinfo failed for UDP relay host.".
sockaddr_in ResolveUdpRelayEndpoint(const std::wstring& serverUrl);

// Negotiates the path and starts its two threads; never throws. Without an acknowledgement after
// the hello attempts, the path stays closed and no thread runs.
void OpenUdpPath(UdpPath& udp, TunnelDataPath& path, const std::wstring& serverUrl, const std::wstring& connectionId,
                 const std::wstring& engineerId);

// Not ready any more; the socket is shut and closed (which ends a blocked receive). The Winsock
// use stays for OpenUdpPath or EndUdpWinsock to settle.
void CloseUdpPath(UdpPath& udp);

void JoinUdpThreads(UdpPath& udp);
void EndUdpWinsock(UdpPath& udp);

// True when the packet left as a datagram; false when the caller must send it over the WebSocket.
bool SendOverUdp(UdpPath& udp, const std::vector<std::uint8_t>& packet);

void UdpReceiveLoop(UdpPath& udp, TunnelDataPath& path);
void UdpKeepaliveLoop(UdpPath& udp, TunnelDataPath& path);

}  // namespace ostrevane
