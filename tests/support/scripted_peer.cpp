#include "support/scripted_peer.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace ostrevane::testing {
namespace {

UniqueSocket ListenOnLoopback(std::uint16_t* port) {  // *port 0 asks for a free one
    UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener) {
        throw std::runtime_error("peer: socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(*port);
    if (bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener.get(), 4) != 0) {
        throw std::runtime_error("peer: bind or listen failed on port " + std::to_string(*port));
    }
    int size = sizeof(address);
    getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return listener;
}

bool WaitReadable(SOCKET socket, long milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

void AppendLength(std::vector<std::uint8_t>& frame, std::uint8_t firstByte, std::uint64_t length) {
    frame.push_back(firstByte);
    if (length < 126) {
        frame.push_back(static_cast<std::uint8_t>(length));
    } else if (length <= 0xFFFF) {
        frame.push_back(126);
        frame.push_back(static_cast<std::uint8_t>(length >> 8));
        frame.push_back(static_cast<std::uint8_t>(length));
    } else {
        frame.push_back(127);
        for (int shift = 56; shift >= 0; shift -= 8) {
            frame.push_back(static_cast<std::uint8_t>(length >> shift));
        }
    }
}

}  // namespace

bool PeerConnection::ReadExactly(std::size_t length, std::vector<std::uint8_t>& out) {
    out.resize(length);
    std::size_t offset = 0;
    while (offset < length) {
        const int chunk = static_cast<int>(std::min<std::size_t>(length - offset, 1 << 20));
        const int received = recv(socket_, reinterpret_cast<char*>(out.data() + offset), chunk, 0);
        if (received < 1) {
            out.resize(offset);
            return false;
        }
        offset += static_cast<std::size_t>(received);
    }
    return true;
}

std::string PeerConnection::ReadUntil(const std::string& terminator, std::size_t limit) {
    std::string text;
    char byte = 0;
    while (text.size() < limit && recv(socket_, &byte, 1, 0) == 1) {
        text.push_back(byte);
        if (text.ends_with(terminator)) {
            return text;
        }
    }
    return {};
}

bool PeerConnection::ReadClientFrame(ClientFrame& frame) {
    std::vector<std::uint8_t> bytes;
    if (!ReadExactly(2, bytes)) {
        return false;
    }
    frame.header = bytes;
    frame.fin = (bytes[0] & 0x80) != 0;
    frame.opcode = bytes[0] & 0x0F;
    frame.masked = (bytes[1] & 0x80) != 0;
    std::uint64_t length = bytes[1] & 0x7F;
    if (length >= 126) {
        const std::size_t size = length == 126 ? 2 : 8;
        if (!ReadExactly(size, bytes)) {
            return false;
        }
        frame.header.insert(frame.header.end(), bytes.begin(), bytes.end());
        length = 0;
        for (std::uint8_t b : bytes) {
            length = (length << 8) | b;
        }
    }
    std::uint8_t key[4] = {};
    if (frame.masked) {
        if (!ReadExactly(4, bytes)) {
            return false;
        }
        frame.header.insert(frame.header.end(), bytes.begin(), bytes.end());
        std::copy(bytes.begin(), bytes.end(), key);
        frame.maskingKey = (std::uint32_t{key[0]} << 24) | (std::uint32_t{key[1]} << 16) |
                           (std::uint32_t{key[2]} << 8) | key[3];
    }
    if (!ReadExactly(static_cast<std::size_t>(length), frame.payload)) {
        return false;
    }
    for (std::size_t i = 0; i < frame.payload.size(); ++i) {
        frame.payload[i] ^= key[i % 4];
    }
    return true;
}

bool PeerConnection::SendAll(std::span<const std::uint8_t> bytes) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - offset, 1 << 20));
        const int sent = send(socket_, reinterpret_cast<const char*>(bytes.data() + offset), chunk, 0);
        if (sent < 1) {
            return false;
        }
        offset += static_cast<std::size_t>(sent);
    }
    return true;
}

bool PeerConnection::SendAll(const std::string& text) {
    return SendAll(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool PeerConnection::WaitForEnd(std::vector<std::uint8_t>* received, unsigned milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        if (!WaitReadable(socket_, 100)) {
            continue;
        }
        const int count = recv(socket_, buffer, sizeof(buffer), 0);
        if (count < 1) {
            return true;
        }
        if (received != nullptr) {
            received->insert(received->end(), buffer, buffer + count);
        }
    }
    return false;
}

ScriptedPeer::ScriptedPeer(Script script, std::uint16_t port) : port_(port) {
    if (winsock_.Start() != 0) {
        throw std::runtime_error("peer: WSAStartup failed");
    }
    listener_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this, s = std::move(script)]() mutable { Run(std::move(s)); });
}

ScriptedPeer::~ScriptedPeer() { Join(); }

void ScriptedPeer::Join() {
    stopWaiting_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::wstring ScriptedPeer::Url(const std::wstring& pathWithQuery) const {
    return L"ws://127.0.0.1:" + std::to_wstring(port_) + pathWithQuery;
}

void ScriptedPeer::Run(Script script) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPeerWaitMs);
    bool pending = false;
    while (!pending && std::chrono::steady_clock::now() < deadline) {
        const bool stop = stopWaiting_;
        pending = WaitReadable(listener_.get(), stop ? 0 : 50);
        if (stop) {
            break;
        }
    }
    if (!pending) {
        return;
    }
    UniqueSocket connection(accept(listener_.get(), nullptr, nullptr));
    if (!connection) {
        return;
    }
    accepted_ = true;
    SetSocketTimeout(connection.get(), SO_RCVTIMEO, kPeerWaitMs);
    SetSocketTimeout(connection.get(), SO_SNDTIMEO, kPeerWaitMs);
    PeerConnection peer(connection.get());
    script(peer);
    ShutdownAndClose(connection);
}

std::vector<std::uint8_t> ServerFrame(std::uint8_t firstByte, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> frame;
    AppendLength(frame, firstByte, payload.size());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::vector<std::uint8_t> ServerFrameHeader(std::uint8_t firstByte, std::uint64_t length) {
    std::vector<std::uint8_t> frame;
    AppendLength(frame, firstByte, length);
    return frame;
}

std::string SwitchingProtocolsResponse() {
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
}

std::uint16_t UnusedLoopbackPort() {
    WinsockSession winsock;
    winsock.Start();
    std::uint16_t port = 0;
    UniqueSocket listener = ListenOnLoopback(&port);
    return port;
}

std::vector<std::uint8_t> PatternBytes(std::size_t length, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 31 + seed + (i >> 8)) & 0xFF);
    }
    return bytes;
}

}  // namespace ostrevane::testing
