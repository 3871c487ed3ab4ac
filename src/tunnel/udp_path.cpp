#include "tunnel/udp_path.h"

#include <ws2tcpip.h>

#include <array>
#include <cstring>
#include <span>
#include <stdexcept>

#include "settings/text_utils.h"
#include "tunnel/capture_loop.h"
#include "tunnel/relay_url.h"
#include "tunnel/udp_datagrams.h"

namespace ostrevane {
namespace {

constexpr std::chrono::milliseconds kReceiveErrorPause{20};

int SendTo(SOCKET socket, const std::vector<unsigned char>& datagram, const sockaddr_in& endpoint) {
    return sendto(socket, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
                  reinterpret_cast<const sockaddr*>(&endpoint), sizeof(endpoint));
}

// One datagram and its sender; -1 with the Winsock error on failure.
int ReceiveFrom(SOCKET socket, std::vector<std::uint8_t>& buffer, sockaddr_in& from, int& error) {
    int fromLength = sizeof(from);
    from = {};
    const int received = recvfrom(socket, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
    error = received == SOCKET_ERROR ? WSAGetLastError() : 0;
    return received;
}

}  // namespace

sockaddr_in ResolveUdpRelayEndpoint(const std::wstring& serverUrl) {
    const CrackedUrl parts = ParseRelayUrl(NormalizeServerUrl(serverUrl) + L"/");
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* raw = nullptr;
    const int result =
        getaddrinfo(WideToUtf8(parts.host).c_str(), std::to_string(parts.port).c_str(), &hints, &raw);
    const UniqueAddressInfo results(raw);
    if (result != 0 || !results || results.get()->ai_addr == nullptr ||
        results.get()->ai_addrlen < static_cast<socklen_t>(sizeof(sockaddr_in))) {
        throw std::runtime_error("getaddrinfo failed for UDP relay host.");
    }
    sockaddr_in endpoint{};
    std::memcpy(&endpoint, results.get()->ai_addr, sizeof(endpoint));
    return endpoint;
}

bool IsFromEndpoint(const sockaddr_in& from, const sockaddr_in& endpoint) {
    return from.sin_family == AF_INET && from.sin_port == endpoint.sin_port &&
           from.sin_addr.s_addr == endpoint.sin_addr.s_addr;
}

std::shared_ptr<UdpPath> UdpPath::Create(const std::wstring& serverUrl, const std::wstring& connectionId,
                                         const std::wstring& engineerId, const UdpTimings& timings,
                                         MonotonicClockFn clock, TunnelCounters* counters) {
    WinsockSession winsock;
    if (winsock.Start() != 0) {
        return nullptr;
    }
    try {
        const sockaddr_in endpoint = ResolveUdpRelayEndpoint(serverUrl);
        UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (!socket) {
            return nullptr;
        }
        SetSocketTimeout(socket.get(), SO_RCVTIMEO, timings.helloTimeoutMs);
        SetSocketTimeout(socket.get(), SO_SNDTIMEO, timings.helloTimeoutMs);
        return std::shared_ptr<UdpPath>(new UdpPath(std::move(socket), std::move(winsock), endpoint,
                                                    BuildUdpHello(connectionId, engineerId), timings, clock,
                                                    counters));
    } catch (const std::exception&) {
        return nullptr;  // the socket and the Winsock use end with their owners
    }
}

UdpPath::UdpPath(UniqueSocket socket, WinsockSession winsock, sockaddr_in endpoint, std::vector<unsigned char> hello,
                 const UdpTimings& timings, MonotonicClockFn clock, TunnelCounters* counters)
    : winsock_(std::move(winsock)),
      socket_(std::move(socket)),
      endpoint_(endpoint),
      hello_(std::move(hello)),
      timings_(timings),
      clock_(clock),
      counters_(counters) {}

UdpPath::~UdpPath() {
    Shutdown();
    if (receiveThread_.joinable()) {
        receiveThread_.join();
    }
    if (keepaliveThread_.joinable()) {
        keepaliveThread_.join();
    }
    ShutdownAndClose(socket_);  // no thread is left that could hold its number
}

std::uint16_t UdpPath::localPort() const {
    sockaddr_in local{};
    int length = sizeof(local);
    if (getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

bool UdpPath::Active(const TunnelDataPath& path) const {
    return !shutDownFlag_.load() && path.running.load() && !path.stopping.load();
}

void UdpPath::Shutdown() noexcept {
    ready_ = false;
    {
        std::lock_guard lock(shutdownMutex_);
        if (shutDown_) {
            return;
        }
        shutDown_ = true;
        shutDownFlag_ = true;
    }
    shutdownCv_.notify_all();
    AbortSocketIo(socket_.get());  // ends a blocked receive; the number stays ours
}

bool UdpPath::WaitForShutdown(std::chrono::milliseconds duration) {
    std::unique_lock lock(shutdownMutex_);
    return shutdownCv_.wait_for(lock, duration, [this] { return shutDown_; });
}

bool UdpPath::Negotiate(const TunnelDataPath& path) {
    // The tunnel's running flag is set only after the relay connected; here only a stop counts.
    const auto stopped = [&] { return shutDownFlag_.load() || path.stopping.load(); };
    std::vector<std::uint8_t> buffer(kUdpMaxDatagramLength);
    std::uint64_t token = 0;
    for (int attempt = 0; attempt < timings_.helloAttempts && token == 0 && !stopped(); ++attempt) {
        if (SendTo(socket_.get(), hello_, endpoint_) != static_cast<int>(hello_.size())) {
            continue;
        }
        // Datagrams from anyone else, or that are no acknowledgement, do not end the wait early:
        // they are read past until the attempt's time is up.
        const std::uint64_t started = clock_();
        while (token == 0 && !stopped() && clock_() - started < timings_.helloTimeoutMs) {
            sockaddr_in from{};
            int error = 0;
            const int received = ReceiveFrom(socket_.get(), buffer, from, error);
            if (received == SOCKET_ERROR && error != WSAEMSGSIZE) {
                break;  // the attempt's time-out, or the socket was aborted
            }
            if (received > 0 && IsFromEndpoint(from, endpoint_)) {
                token = ParseUdpAcknowledgement(buffer.data(), static_cast<std::size_t>(received)).value_or(0);
            }
        }
    }
    if (token == 0 || stopped()) {
        return false;
    }
    SetSocketTimeout(socket_.get(), SO_RCVTIMEO, timings_.receiveTimeoutMs);
    token_ = token;
    lastAcknowledgement_ = clock_();
    ready_ = true;
    return true;
}

void UdpPath::Run(TunnelDataPath& path) {
    receiveThread_ = std::thread([this, &path] { ReceiveLoop(path); });
    keepaliveThread_ = std::thread([this, &path] { KeepaliveLoop(path); });
}

bool UdpPath::Send(const std::vector<std::uint8_t>& packet) {
    if (!ready_.load() || !FitsUdpPath(packet.data(), packet.size())) {
        return false;
    }
    const std::uint64_t token = token_.load();
    if (token == 0) {
        return false;
    }
    std::array<unsigned char, kUdpDataHeaderLength> header = UdpDataHeader(token);
    WSABUF buffers[2] = {{static_cast<ULONG>(header.size()), reinterpret_cast<char*>(header.data())},
                         {static_cast<ULONG>(packet.size()),
                          reinterpret_cast<char*>(const_cast<std::uint8_t*>(packet.data()))}};
    DWORD sent = 0;
    if (counters_ != nullptr) {
        TunnelCounters::Add(counters_->udpSends);
    }
    const int result = WSASendTo(socket_.get(), buffers, 2, &sent, 0, reinterpret_cast<const sockaddr*>(&endpoint_),
                                 sizeof(endpoint_), nullptr, nullptr);
    if (result != 0 || sent != header.size() + packet.size()) {
        ready_ = false;
        return false;
    }
    return true;
}

void UdpPath::Accept(std::uint8_t* datagram, std::size_t length, TunnelDataPath& path) {
    if (const auto token = ParseUdpAcknowledgement(datagram, length)) {
        token_ = *token;
        lastAcknowledgement_ = clock_();
        ready_ = !shutDownFlag_.load();
    } else if (const auto data = ParseUdpData(datagram, length)) {
        if (data->payloadLength > 0 && data->token == token_.load()) {
            DispatchInbound(path, std::span<std::uint8_t>(datagram + kUdpDataHeaderLength, data->payloadLength));
        }
    }
}

void UdpPath::ReceiveLoop(TunnelDataPath& path) {
    std::vector<std::uint8_t> buffer(kUdpMaxDatagramLength);
    while (Active(path)) {
        sockaddr_in from{};
        int error = 0;
        if (counters_ != nullptr) {
            TunnelCounters::Add(counters_->udpReceives);
        }
        const int received = ReceiveFrom(socket_.get(), buffer, from, error);
        if (received == SOCKET_ERROR) {
            // A datagram too large for the buffer is bad like any other; the time-out only
            // lets the loop look at its flags again.
            if (!Active(path) || error == WSAEMSGSIZE || error == WSAETIMEDOUT) {
                continue;
            }
            ready_ = false;
            WaitForShutdown(kReceiveErrorPause);
            continue;
        }
        if (IsFromEndpoint(from, endpoint_)) {
            Accept(buffer.data(), static_cast<std::size_t>(received), path);
        }
    }
}

void UdpPath::KeepaliveLoop(const TunnelDataPath& path) {
    while (Active(path)) {
        if (WaitForShutdown(timings_.keepaliveInterval) || !Active(path)) {
            return;
        }
        const bool sent = SendTo(socket_.get(), hello_, endpoint_) == static_cast<int>(hello_.size());
        const std::uint64_t last = lastAcknowledgement_.load();
        if (!sent || last == 0 || clock_() - last > timings_.acknowledgementMaxAgeMs) {
            ready_ = false;
        }
    }
}

}  // namespace ostrevane
