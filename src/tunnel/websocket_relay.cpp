#include "tunnel/websocket_relay.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

#include "settings/text_utils.h"
#include "tunnel/relay_url.h"
#include "tunnel/tls_channel.h"
#include "tunnel/websocket_protocol.h"

namespace ostrevane {
namespace {

constexpr DWORD kHandshakeTimeoutMs = 8000;

std::runtime_error ErrorWithCode(const char* text, int code) {
    return std::runtime_error(text + std::to_string(code));
}

}  // namespace

// Receives from and sends to the relay's socket as it is at each call, so that a socket closed by
// another thread is never used again, and keeps the Winsock errors of the last failed calls.
class WebSocketRelay::SocketSource : public ByteStream {
public:
    explicit SocketSource(const WebSocketRelay& relay) : relay_(relay) {}

    int Receive(std::uint8_t* buffer, int length) override {
        const SOCKET socket = relay_.CurrentSocket();
        if (socket == INVALID_SOCKET) {
            receiveError = WSAENOTSOCK;
            return -1;
        }
        if (relay_.counters_ != nullptr) {
            TunnelCounters::Add(relay_.counters_->relayReceives);
        }
        const int received = recv(socket, reinterpret_cast<char*>(buffer), length, 0);
        if (received < 1) {
            receiveError = WSAGetLastError();
        }
        return received;
    }

    int Send(const std::uint8_t* data, int length) override {
        const SOCKET socket = relay_.CurrentSocket();
        if (socket == INVALID_SOCKET) {
            sendError = WSAENOTSOCK;
            return -1;
        }
        if (relay_.counters_ != nullptr) {
            TunnelCounters::Add(relay_.counters_->relaySends);
        }
        const int sent = send(socket, reinterpret_cast<const char*>(data), length, 0);
        if (sent < 1) {
            sendError = WSAGetLastError();
        }
        return sent;
    }

private:
    const WebSocketRelay& relay_;
};

WebSocketRelay::WebSocketRelay(std::wstring url, TunnelCounters* counters)
    : url_(std::move(url)),
      counters_(counters),
      socketSource_(std::make_unique<SocketSource>(*this)),
      frames_(std::make_unique<websocket::ReadAheadSource>(*socketSource_)) {}

WebSocketRelay::~WebSocketRelay() {
    connected_ = false;
    std::lock_guard lock(stateMutex_);
    EndTlsLocked();
    ShutdownAndClose(socket_);
    winsock_.End();
}

// Only aborts the socket's I/O: another thread may hold its number for a send or a receive right
// now, and a closed number can go to the next socket at once (the next relay's, after a
// reconnection). The destructor, after the last user let go, closes it.
void WebSocketRelay::Close() noexcept {
    cancelled_ = true;
    Disconnect();
}

void WebSocketRelay::Disconnect() noexcept {
    connected_ = false;
    std::lock_guard lock(stateMutex_);
    EndTlsLocked();
    AbortSocketIo(socket_.get());
}

void WebSocketRelay::ThrowIfCancelled() const {
    if (cancelled_) {
        throw std::runtime_error("Relay connection was cancelled.");
    }
}

bool WebSocketRelay::IsConnected() const { return connected_ && CurrentSocket() != INVALID_SOCKET; }

SOCKET WebSocketRelay::CurrentSocket() const {
    std::lock_guard lock(stateMutex_);
    return socket_.get();
}

void WebSocketRelay::Connect() {
    try {
        ConnectSteps();
    } catch (const std::exception&) {
        ThrowIfCancelled();  // a failure that a Close caused says so, whatever step it hit
        throw;
    }
}

void WebSocketRelay::ConnectSteps() {
    ThrowIfCancelled();
    Disconnect();
    frames_ = std::make_unique<websocket::ReadAheadSource>(*socketSource_);  // nothing read ahead survives
    const CrackedUrl parts = ParseRelayUrl(url_);

    // From here on a failure leaves nothing open: no socket, no Winsock use.
    ScopeExit closeOnFailure([this] { Disconnect(); });
    {
        std::lock_guard lock(stateMutex_);
        if (const int result = winsock_.Start(); result != 0) {
            throw ErrorWithCode("WSAStartup failed, error ", result);
        }
    }

    const std::string host = WideToUtf8(parts.host);
    const std::string port = std::to_string(parts.port);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    const UniqueAddressInfo addresses(resolved == 0 ? found : nullptr);
    if (!addresses) {
        throw std::runtime_error("getaddrinfo failed for relay host.");
    }

    // Each candidate is the relay's socket while it connects, so that Close can abort the attempt.
    bool connectedSocket = false;
    int lastError = 0;
    for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
        UniqueSocket candidate(socket(address->ai_family, address->ai_socktype, address->ai_protocol));
        if (!candidate) {
            lastError = WSAGetLastError();
            continue;
        }
        SetSocketTimeout(candidate.get(), SO_RCVTIMEO, kHandshakeTimeoutMs);
        SetSocketTimeout(candidate.get(), SO_SNDTIMEO, kHandshakeTimeoutMs);
        const SOCKET number = candidate.get();
        {
            std::lock_guard lock(stateMutex_);
            ThrowIfCancelled();  // checked under the lock: a Close after this sees the candidate
            socket_ = std::move(candidate);
        }
        if (connect(number, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) {
            connectedSocket = true;
            break;
        }
        lastError = WSAGetLastError();
        ThrowIfCancelled();
    }
    ThrowIfCancelled();
    if (!connectedSocket) {
        throw std::runtime_error("Relay TCP connect failed to " + host + ":" + port + ", error " +
                                 std::to_string(lastError));
    }
    SetSocketFlag(CurrentSocket(), IPPROTO_TCP, TCP_NODELAY, 1);
    SetSocketFlag(CurrentSocket(), SOL_SOCKET, SO_KEEPALIVE, 1);

    if (parts.secure) {
        StartTls(parts.host);
        ThrowIfCancelled();
    }
    SendHandshake(websocket::BuildHandshakeRequest(WideToUtf8(parts.path), host, parts.port));
    const std::string response = ReceiveHandshake();
    ThrowIfCancelled();
    const int status = websocket::ParseStatusCode(response);
    if (status != 101) {
        throw std::runtime_error("WebSocket HTTP upgrade failed, status " + std::to_string(status) + ": " +
                                 websocket::FirstLine(response));
    }

    // Packets may be minutes apart: from now on a receive waits as long as it takes.
    SetSocketTimeout(CurrentSocket(), SO_RCVTIMEO, 0);
    connected_ = true;
    if (cancelled_) {  // a Close that came while the flag was being set
        Disconnect();
        ThrowIfCancelled();
    }
    closeOnFailure.Dismiss();
}

ByteStream& WebSocketRelay::Stream() {
    if (tls_) {
        return *tls_;
    }
    return *socketSource_;
}

// Nothing of the WebSocket is sent before the session is up and the server's certificate passed.
void WebSocketRelay::StartTls(const std::wstring& host) {
    auto tls = std::make_unique<TlsChannel>(*socketSource_, host);
    tls->Handshake();
    frames_ = std::make_unique<websocket::ReadAheadSource>(*tls);
    std::lock_guard lock(stateMutex_);
    tls_ = std::move(tls);
}

// A TLS session ends with close_notify, written only when the socket takes it at once: closing
// never waits for the network. Skipped while another thread writes (it would interleave).
void WebSocketRelay::EndTlsLocked() noexcept {
    if (!tls_ || !socket_) {
        return;
    }
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket_.get(), &writable);
    timeval now{0, 0};
    if (select(0, nullptr, &writable, nullptr, &now) != 1) {
        return;
    }
    const std::vector<std::uint8_t> alert = tls_->TakeCloseNotify();
    if (!alert.empty()) {
        send(socket_.get(), reinterpret_cast<const char*>(alert.data()), static_cast<int>(alert.size()), 0);
    }
}

void WebSocketRelay::SendHandshake(const std::string& request) {
    ByteStream& stream = Stream();
    if (!SendAll(stream, reinterpret_cast<const std::uint8_t*>(request.data()), request.size())) {
        throw ErrorWithCode("WebSocket handshake send failed, error ", stream.sendError);
    }
}

std::string WebSocketRelay::ReceiveHandshake() {
    ByteStream& source = Stream();
    websocket::HandshakeResponse response = websocket::ReadHandshakeResponse(source);
    switch (response.outcome) {
        case websocket::HandshakeResponse::Outcome::kComplete:
            return std::move(response.text);
        case websocket::HandshakeResponse::Outcome::kTooLarge:
            throw std::runtime_error("WebSocket handshake response was too large.");
        case websocket::HandshakeResponse::Outcome::kReceiveFailed:
            break;
    }
    throw ErrorWithCode("WebSocket handshake receive failed, error ", source.receiveError);
}

bool WebSocketRelay::ReceiveMessage(std::vector<std::uint8_t>& message) {
    if (!IsConnected()) {
        return false;
    }
    // The result of a pong does not matter here: a broken connection fails the next read.
    return websocket::ReadMessage(
        *frames_, [this](std::span<const std::uint8_t> payload) { SendFrame(websocket::kPong, payload); },
        message);
}

bool WebSocketRelay::SendFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload) {
    std::lock_guard lock(sendMutex_);
    if (!connected_) {
        return false;
    }
    AppendFrameLocked(opcode, payload);
    return WriteLocked();
}

bool WebSocketRelay::SendFrames(std::uint8_t opcode, std::span<const std::vector<std::uint8_t>> payloads) {
    std::lock_guard lock(sendMutex_);
    if (!connected_) {
        return false;
    }
    for (const std::vector<std::uint8_t>& payload : payloads) {
        AppendFrameLocked(opcode, payload);
    }
    return WriteLocked();
}

void WebSocketRelay::AppendFrameLocked(std::uint8_t opcode, std::span<const std::uint8_t> payload) {
    ++frameCounter_;
    websocket::AppendFrame(outgoing_, opcode, payload, websocket::MaskingKey(frameCounter_, GetTickCount()));
}

bool WebSocketRelay::WriteLocked() {
    const bool written = SendAll(Stream(), outgoing_.data(), outgoing_.size());
    outgoing_.clear();
    return written;
}

}  // namespace ostrevane
