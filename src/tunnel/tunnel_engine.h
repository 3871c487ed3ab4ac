// The software tunnel: owns the WinDivert handles, the WebSocket relay, the optional UDP path,
// the send queue, the connection table and the five threads that move packets. Idle until Start,
// running until Stop. The window reads only the two flags running and relayConnected.
//
// Lock order: natMutex before queueMutex (the capture thread queues while translating);
// relayMutex before udpMutex (dropping the relay closes the UDP path). No path takes them the
// other way round. Start and Stop take no lock as a whole: callers issue them one at a time.
#pragma once

#include <atomic>
#include <chrono>
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
    bool runServiceCommands = true;  // the driver-service clean-up of every stop
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
    // after which the engine is stopped.
    std::wstring Start(const std::wstring& serverUrl, const std::wstring& connectionId, const std::wstring& engineerId,
                       const std::wstring& assignedAddress, const std::vector<std::wstring>& routes);

    // Ends everything and runs the driver-service clean-up; callable at any time from any thread
    // that is not one of the engine's own.
    std::wstring Stop();

    bool running() const { return path_.running.load(); }
    bool relayConnected() const { return relayConnected_.load(); }

    // For tests and diagnostics.
    const std::vector<RouteMapping>& routeMappings() const { return path_.mappings; }
    const std::wstring& filterText() const { return filterText_; }
    const std::wstring& relayUrl() const { return relayUrl_; }
    bool udpReady() const { return udp_.ready.load(); }
    std::uint64_t udpToken() const { return udp_.token.load(); }
    std::size_t queuedPackets() const { return path_.sendQueue.Size(); }
    int reconnectDelay() const { return reconnectDelay_.load(); }
    bool udpThreadsRunning() const { return udp_.receiveThread.joinable() || udp_.keepaliveThread.joinable(); }
    std::size_t flowCount();

private:
    void OpenTunnel();
    bool ConnectRelay();
    void DropRelay();
    void RelayLoop();
    void ReceiveUntilFailure();
    bool TryReconnect();
    void SendLoop();
    std::shared_ptr<WebSocketRelay> CurrentRelay();
    void CloseRelaySocket();

    const TunnelEngineOptions options_;

    TunnelDataPath path_;                    // running, stopping, divert table and handles, grant, flows, queue
    std::atomic<bool> relayConnected_{false};
    std::wstring serverUrl_;
    std::wstring connectionId_;
    std::wstring engineerId_;
    std::wstring filterText_;
    std::wstring relayUrl_;

    std::mutex relayMutex_;
    std::shared_ptr<WebSocketRelay> relay_;  // guarded by relayMutex_; threads copy it and use it outside
    UdpPath udp_;                            // its own udpMutex guards its socket fields
    std::atomic<int> reconnectDelay_{1};     // in back-off units, at most 10

    std::thread captureThread_;
    std::thread relayThread_;
    std::thread sendThread_;
};

}  // namespace ostrevane
