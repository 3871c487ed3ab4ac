// A raw TCP peer on a free loopback port for byte-exact tests of the WebSocket relay: one thread
// accepts one connection and runs a script on it. Every wait of the peer is bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"

namespace ostrevane::testing {

inline constexpr unsigned kPeerWaitMs = 15000;  // longest the peer waits for an accept or a byte

// A frame as a client sent it, after unmasking.
struct ClientFrame {
    std::vector<std::uint8_t> header;  // first byte, length bytes and masking key, as on the wire
    bool fin = false;
    std::uint8_t opcode = 0;
    bool masked = false;
    std::uint32_t maskingKey = 0;
    std::vector<std::uint8_t> payload;
};

// The accepted connection, as the script sees it. Reads fail after kPeerWaitMs of silence.
class PeerConnection {
public:
    explicit PeerConnection(SOCKET socket) : socket_(socket) {}
    SOCKET socket() const { return socket_; }

    bool ReadExactly(std::size_t length, std::vector<std::uint8_t>& out);
    // Everything up to and including the terminator; empty when the connection ends first.
    std::string ReadUntil(const std::string& terminator, std::size_t limit = 1 << 20);
    bool ReadClientFrame(ClientFrame& frame);
    bool SendAll(std::span<const std::uint8_t> bytes);
    bool SendAll(const std::string& text);
    // Reads until the client closes; true when it did so within the time. What arrived meanwhile
    // goes to `received` when given.
    bool WaitForEnd(std::vector<std::uint8_t>* received = nullptr, unsigned milliseconds = kPeerWaitMs);

private:
    SOCKET socket_;
};

class ScriptedPeer {
public:
    using Script = std::function<void(PeerConnection&)>;

    // Listens on 127.0.0.1 (a free port unless one is named) and starts the thread.
    // Throws std::runtime_error when the port cannot be had.
    explicit ScriptedPeer(Script script, std::uint16_t port = 0);
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;
    ~ScriptedPeer();  // joins the thread

    std::uint16_t port() const { return port_; }
    std::wstring Url(const std::wstring& pathWithQuery = L"/relay") const;
    // Stops waiting for a client that has not come (one that is already queued is still taken),
    // then waits for the script's end; the connection is closed then.
    void Join();
    bool accepted() const { return accepted_; }  // read it after Join

private:
    void Run(Script script);

    WinsockSession winsock_;
    UniqueSocket listener_;
    std::uint16_t port_ = 0;
    bool accepted_ = false;
    std::atomic<bool> stopWaiting_{false};
    std::thread thread_;
};

// An unmasked frame as the service sends it; the first byte carries FIN and the opcode.
std::vector<std::uint8_t> ServerFrame(std::uint8_t firstByte, std::span<const std::uint8_t> payload);
// Only the header of a frame announcing `length` payload bytes.
std::vector<std::uint8_t> ServerFrameHeader(std::uint8_t firstByte, std::uint64_t length);
std::string SwitchingProtocolsResponse();
// A port on 127.0.0.1 on which nothing listens (bound once, then released).
std::uint16_t UnusedLoopbackPort();
std::vector<std::uint8_t> PatternBytes(std::size_t length, std::uint8_t seed = 0);

}  // namespace ostrevane::testing
