// The software tunnel: owns the WinDivert handles, the WebSocket relay, the optional UDP path,
// the send queue, the connection table and the five threads that move packets. Idle until Start,
// running until Stop. The window reads only the two flags running and relayConnected.
//
// Lock order: lifecycleMutex first (held by Start and Stop as a whole, never by an engine thread);
// natMutex and queueMutex are never held together; relayMutex before
// udpMutex (dropping the relay takes the UDP path with it). No path takes them the other way
// round, and none is held across a network call.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tunnel/mapping_networks.h"
#include "tunnel/tunnel_data_path.h"
#include "tunnel/udp_path.h"
#include "tunnel/websocket_relay.h"

namespace ostrevane {

struct TunnelEngineOptions {
    std::chrono::milliseconds backoffUnit{1000};  // reconnection waits are 1, 2, 4, 8, then 10 units
    UdpTimings udp;
    bool runServiceCommands = true;  // the driver-service clean-up of a stop (the first, and each after a start)
};

class TunnelEngine {
public:
    TunnelEngine();
    explicit TunnelEngine(TunnelEngineOptions options);
    TunnelEngine(const TunnelEngine&) = delete;
    TunnelEngine& operator=(const TunnelEngine&) = delete;
    ~TunnelEngine();

    // Tears down any earlier tunnel, then builds the new one from the grant. Returns
    // "工程师端软件隧道已启动：" and the connection id; throws std::runtime_error with an English text,
    // after which the engine is stopped: no library, thread or socket is left. A Stop issued while
    // it runs makes it fail promptly with "The tunnel was stopped while it was starting.".
    std::wstring Start(const std::wstring& serverUrl, const std::wstring& connectionId, const std::wstring& engineerId,
                       const std::wstring& assignedAddress, const std::vector<std::wstring>& routes);

    // Ends everything and runs the driver-service clean-up; callable at any time from any thread
    // that is not one of the engine's own, also while a Start or another Stop runs. Aborts a
    // relay that is still connecting and every blocked receive; empties the send queue.
    std::wstring Stop();

    bool running() const { return path_.running.load(); }
    bool relayConnected() const { return relayConnected_.load(); }

    // For tests and diagnostics.
    const std::vector<RouteMapping>& routeMappings() const { return path_.mappings; }
    const std::wstring& filterText() const { return filterText_; }
    const std::wstring& relayUrl() const { return relayUrl_; }
    bool udpReady();
    std::uint64_t udpToken();
    std::uint16_t udpLocalPort();  // 0 without a UDP path
    std::size_t queuedPackets() const { return path_.sendQueue.Size(); }
    int reconnectDelay() const { return reconnectDelay_.load(); }
    bool udpThreadsRunning();
    std::size_t flowCount();
    // Packets and platform calls since the engine was made (kept across Start and Stop).
    TunnelCounterValues counters() const { return path_.counters.Snapshot(); }

private:
    void StartLocked(const std::wstring& assignedAddress, const std::vector<std::wstring>& routes);
    std::wstring StopLocked(bool runServiceCommands = true);
    void RequestStop() noexcept;  // Stop's part that needs no lock: every wait and network call ends
    bool StopRequested() const { return pendingStops_.load() > 0 || path_.stopping.load(); }
    void ThrowIfStopRequested() const;
    void WakeWaiters();
    bool WaitUnlessStopping(std::chrono::milliseconds duration);  // false when a stop came first
    void OpenTunnel();
    void ConnectRelay();  // throws
    void DropRelay(const std::shared_ptr<WebSocketRelay>& failed);
    void CloseRelays() noexcept;
    void OpenUdpPath();
    void ShutdownUdpPath();
    std::shared_ptr<UdpPath> CurrentUdp();
    void RelayLoop();
    void ReceiveUntilFailure();
    bool TryReconnect();
    void SendLoop();
    std::shared_ptr<WebSocketRelay> CurrentRelay();

    const TunnelEngineOptions options_;

    TunnelDataPath path_;                    // running, stopping, divert table and handles, grant, flows, queue
    std::atomic<bool> relayConnected_{false};
    std::wstring serverUrl_;
    std::wstring connectionId_;
    std::wstring engineerId_;
    std::wstring filterText_;
    std::wstring relayUrl_;

    std::mutex lifecycleMutex_;              // one Start or Stop at a time
    std::atomic<int> pendingStops_{0};       // Stops entered and not yet finished
    bool serviceCleanedUp_ = false;          // under lifecycleMutex_: the driver-service clean-up ran
                                             // and no start has loaded the library since

    std::mutex relayMutex_;
    std::shared_ptr<WebSocketRelay> relay_;       // guarded by relayMutex_; threads copy it and use it outside
    std::shared_ptr<WebSocketRelay> connecting_;  // guarded by relayMutex_; the attempt a Stop must abort
    std::mutex udpMutex_;
    std::shared_ptr<UdpPath> udp_;                // guarded by udpMutex_; negotiating or running
    std::atomic<int> reconnectDelay_{1};          // in back-off units, at most 10

    std::mutex wakeMutex_;                   // with wakeCv_: the back-off wait and the sender's wait
    std::condition_variable wakeCv_;         // for a relay; notified by a stop and a new relay

    std::thread captureThread_;
    std::thread relayThread_;
    std::thread sendThread_;
};

}  // namespace ostrevane
