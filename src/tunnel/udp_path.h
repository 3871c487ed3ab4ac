// The optional UDP path to the relay: negotiated with a hello and an acknowledgement that hands
// out a token, used only for small UDP packets, kept alive by repeating the hello, and best effort
// throughout: whenever it is not ready, packets take the WebSocket. Only datagrams from the
// relay's own address and port count.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"
#include "tunnel/tunnel_data_path.h"

namespace ostrevane {

struct UdpTimings {
    int helloAttempts = 4;
    DWORD helloTimeoutMs = 900;
    DWORD receiveTimeoutMs = 2000;
    std::chrono::milliseconds keepaliveInterval{15000};
    std::uint64_t acknowledgementMaxAgeMs = 45000;
};

// The relay's UDP address: the host and port of the base URL (80 or 443 by scheme when none is
// written). Throws "getaddrinfo failed for UDP relay host.".
sockaddr_in ResolveUdpRelayEndpoint(const std::wstring& serverUrl);

// Whether a datagram came from the relay's endpoint: same IPv4 address and port.
bool IsFromEndpoint(const sockaddr_in& from, const sockaddr_in& endpoint);

// Owns its socket, its Winsock use and its two threads. Shutdown may come from any thread at
// any time and ends every wait at once; the socket is closed only by the destructor, when the
// last user has let go and the threads are joined, so its number is never reused under them.
class UdpPath {
public:
    // The socket and the relay's endpoint; null when either cannot be had. Never throws. Counts
    // its data sends and receives into `counters` when given (it must outlive the path).
    static std::shared_ptr<UdpPath> Create(const std::wstring& serverUrl, const std::wstring& connectionId,
                                           const std::wstring& engineerId, const UdpTimings& timings,
                                           MonotonicClockFn clock = &SteadyMilliseconds,
                                           TunnelCounters* counters = nullptr);
    UdpPath(const UdpPath&) = delete;
    UdpPath& operator=(const UdpPath&) = delete;
    ~UdpPath();

    // The hello until an acknowledgement from the relay arrives (true) or the attempts are used
    // up, the path is shut down or the tunnel stops (false).
    bool Negotiate(const TunnelDataPath& path);

    // Starts the receive and keep-alive threads of a negotiated path.
    void Run(TunnelDataPath& path);

    // Not ready any more; wakes the keep-alive and aborts the socket's I/O. Idempotent.
    void Shutdown() noexcept;

    // True when the packet left as a datagram (header and packet gathered into one send, no
    // copy); false when the caller must send it over the WebSocket.
    bool Send(const std::vector<std::uint8_t>& packet);

    bool ready() const { return ready_.load(); }
    std::uint64_t token() const { return token_.load(); }
    bool running() const { return receiveThread_.joinable() || keepaliveThread_.joinable(); }
    std::uint16_t localPort() const;  // host byte order; 0 before the first hello

private:
    UdpPath(UniqueSocket socket, WinsockSession winsock, sockaddr_in endpoint, std::vector<unsigned char> hello,
            const UdpTimings& timings, MonotonicClockFn clock, TunnelCounters* counters);

    bool Active(const TunnelDataPath& path) const;
    void Accept(std::uint8_t* datagram, std::size_t length, TunnelDataPath& path);
    void ReceiveLoop(TunnelDataPath& path);
    void KeepaliveLoop(const TunnelDataPath& path);
    bool WaitForShutdown(std::chrono::milliseconds duration);  // true when shut down meanwhile

    WinsockSession winsock_;  // ended after the socket is closed (members go in reverse order)
    UniqueSocket socket_;     // set at creation, closed by the destructor only
    const sockaddr_in endpoint_;
    const std::vector<unsigned char> hello_;
    const UdpTimings timings_;
    const MonotonicClockFn clock_;
    TunnelCounters* const counters_;  // may be null

    std::atomic<std::uint64_t> token_{0};               // of the last acknowledgement; 0 means none
    std::atomic<std::uint64_t> lastAcknowledgement_{0}; // clock time of the last acknowledgement
    std::atomic<bool> ready_{false};                    // UDP packets may travel as datagrams

    std::mutex shutdownMutex_;
    std::condition_variable shutdownCv_;
    bool shutDown_ = false;  // guarded by shutdownMutex_
    std::atomic<bool> shutDownFlag_{false};

    std::thread receiveThread_;
    std::thread keepaliveThread_;
};

}  // namespace ostrevane
