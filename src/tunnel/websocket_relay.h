// One WebSocket connection to the relay service over a Winsock TCP socket, in a TLS session for a
// wss:// URL: the fixed upgrade handshake, whole binary messages in, masked frames out. Shared by
// the tunnel's threads; another thread may close it to end a receive that is blocked on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/winsock.h"
#include "tunnel/byte_stream.h"
#include "tunnel/tunnel_counters.h"
#include "tunnel/websocket_protocol.h"

namespace ostrevane {

class TlsChannel;

class WebSocketRelay {
public:
    // Counts its socket calls into `counters` when given one (the tunnel's; it must outlive the relay).
    explicit WebSocketRelay(std::wstring url, TunnelCounters* counters = nullptr);
    WebSocketRelay(const WebSocketRelay&) = delete;
    WebSocketRelay& operator=(const WebSocketRelay&) = delete;
    ~WebSocketRelay();  // closes the socket and ends this relay's Winsock use

    // Connects and performs the upgrade handshake (8 s time-outs while it runs; no receive
    // time-out afterwards). For wss:// the TLS handshake and the check of the server's
    // certificate come first, and a refused certificate fails before anything else is sent.
    // Throws std::runtime_error with a fixed English text on every failure, leaving the relay
    // closed. Anything left of an earlier connection is closed first.
    void Connect();

    // One whole binary message. Pings met on the way are answered with pongs. False when the
    // relay is closed, the connection fails or the service closes it, a frame is above 4 MiB,
    // or the message is empty.
    bool ReceiveMessage(std::vector<std::uint8_t>& message);

    // One final, masked frame written whole; false when the relay is closed or a write fails.
    bool SendFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload);
    // Several such frames, each with its own key, written back to back in as few writes as
    // possible; true when all were written. One write per packet is what limits throughput.
    bool SendFrames(std::uint8_t opcode, std::span<const std::vector<std::uint8_t>> payloads);

    // Callable from any thread at any time, also while Connect runs: clears the connected mark,
    // shuts the socket down and cancels its I/O, so that a connect, receive or send blocked on it
    // fails promptly. A relay once closed stays closed: Connect then throws "Relay connection was
    // cancelled.". The socket itself is closed by the destructor, when no thread can still be
    // using its number. The tunnel makes a new relay for every connection attempt.
    void Close() noexcept;

    bool IsConnected() const;  // connected, not closed, and holding a socket

private:
    class SocketSource;

    SOCKET CurrentSocket() const;
    void ConnectSteps();
    void Disconnect() noexcept;  // what Close does, without the lasting mark
    void ThrowIfCancelled() const;
    ByteStream& Stream();  // the TLS session when there is one, else the socket
    void StartTls(const std::wstring& host);
    void EndTlsLocked() noexcept;
    void SendHandshake(const std::string& request);
    std::string ReceiveHandshake();
    void AppendFrameLocked(std::uint8_t opcode, std::span<const std::uint8_t> payload);
    bool WriteLocked();

    const std::wstring url_;
    mutable std::mutex stateMutex_;        // guards socket_ and winsock_; never held across a socket call
    UniqueSocket socket_;                  // the TCP connection
    WinsockSession winsock_;               // this relay's WSAStartup, ended by the destructor
    std::atomic<bool> connected_{false};   // set when the handshake succeeded, cleared by Close
    std::atomic<bool> cancelled_{false};   // set by Close for good
    std::mutex sendMutex_;                 // one frame at a time on the wire
    std::uint32_t frameCounter_ = 0;       // frames sent so far; guarded by sendMutex_
    std::vector<std::uint8_t> outgoing_;   // frames being written; guarded by sendMutex_
    TunnelCounters* const counters_;                       // may be null
    std::unique_ptr<SocketSource> socketSource_;           // the socket as a byte stream
    std::unique_ptr<TlsChannel> tls_;                      // wss:// only; set under stateMutex_ before connected_
    std::unique_ptr<websocket::ReadAheadSource> frames_;   // what ReceiveMessage reads; its thread only
};

}  // namespace ostrevane
