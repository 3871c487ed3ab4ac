#include "tunnel/udp_path.h"

#include <ws2tcpip.h>

#include <cstring>
#include <span>
#include <stdexcept>

#include "settings/text_utils.h"
#include "tunnel/capture_loop.h"
#include "tunnel/relay_url.h"
#include "tunnel/udp_datagrams.h"

namespace ostrevane {
namespace {

constexpr std::chrono::milliseconds kStep{100};
constexpr std::chrono::milliseconds kReceiveErrorPause{20};

bool Active(const TunnelDataPath& path) { return path.running.load() && !path.stopping.load(); }

void ClearAcknowledgement(UdpPath& udp) {
    udp.ready = false;
    udp.token = 0;
    udp.lastAcknowledgement = 0;
}

int SendTo(SOCKET socket, const std::vector<unsigned char>& datagram, const sockaddr_in& endpoint) {
    return sendto(socket, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
                  reinterpret_cast<const sockaddr*>(&endpoint), sizeof(endpoint));
}

}  // namespace

std::uint64_t SteadyMilliseconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

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

void OpenUdpPath(UdpPath& udp, TunnelDataPath& path, const std::wstring& serverUrl, const std::wstring& connectionId,
                 const std::wstring& engineerId) {
    CloseUdpPath(udp);
    JoinUdpThreads(udp);
    EndUdpWinsock(udp);

    WinsockSession winsock;
    if (winsock.Start() != 0) {
        return;
    }
    UniqueSocket socket;
    sockaddr_in endpoint{};
    try {
        endpoint = ResolveUdpRelayEndpoint(serverUrl);
        socket.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (!socket) {
            throw std::runtime_error("UDP socket failed.");
        }
        SetSocketTimeout(socket.get(), SO_RCVTIMEO, udp.timings.helloTimeoutMs);
        SetSocketTimeout(socket.get(), SO_SNDTIMEO, udp.timings.helloTimeoutMs);
    } catch (const std::exception&) {
        ClearAcknowledgement(udp);
        return;  // the socket and the Winsock use end with their owners
    }

    const std::vector<unsigned char> hello = BuildUdpHello(connectionId, engineerId);
    std::vector<unsigned char> buffer(kUdpMaxDatagramLength);
    std::uint64_t token = 0;
    for (int attempt = 0; attempt < udp.timings.helloAttempts && token == 0 && Active(path); ++attempt) {
        if (SendTo(socket.get(), hello, endpoint) != static_cast<int>(hello.size())) {
            continue;
        }
        const int received = recv(socket.get(), reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
        if (received > 0) {
            token = ParseUdpAcknowledgement(buffer.data(), static_cast<std::size_t>(received)).value_or(0);
        }
    }
    if (token == 0) {
        ClearAcknowledgement(udp);
        return;
    }

    SetSocketTimeout(socket.get(), SO_RCVTIMEO, udp.timings.receiveTimeoutMs);
    {
        std::lock_guard lock(udp.udpMutex);
        udp.socket = std::move(socket);
        udp.endpoint = endpoint;
        udp.hello = hello;
        udp.winsock = std::move(winsock);
    }
    udp.token = token;
    udp.lastAcknowledgement = udp.clock();
    udp.ready = true;
    udp.open = true;
    udp.receiveThread = std::thread([&udp, &path] { UdpReceiveLoop(udp, path); });
    udp.keepaliveThread = std::thread([&udp, &path] { UdpKeepaliveLoop(udp, path); });
}

void CloseUdpPath(UdpPath& udp) {
    udp.open = false;
    ClearAcknowledgement(udp);
    UniqueSocket taken;
    {
        std::lock_guard lock(udp.udpMutex);
        taken = std::move(udp.socket);
        udp.hello.clear();
    }
    ShutdownAndClose(taken);  // outside the lock: no socket call is made while holding it
}

void JoinUdpThreads(UdpPath& udp) {
    if (udp.receiveThread.joinable()) {
        udp.receiveThread.join();
    }
    if (udp.keepaliveThread.joinable()) {
        udp.keepaliveThread.join();
    }
}

void EndUdpWinsock(UdpPath& udp) {
    WinsockSession ending;
    {
        std::lock_guard lock(udp.udpMutex);
        ending = std::move(udp.winsock);
    }
}

bool SendOverUdp(UdpPath& udp, const std::vector<std::uint8_t>& packet) {
    if (!udp.ready.load() || !FitsUdpPath(packet.data(), packet.size())) {
        return false;
    }
    const std::uint64_t token = udp.token.load();
    if (token == 0) {
        return false;
    }
    SOCKET socket = INVALID_SOCKET;
    sockaddr_in endpoint{};
    {
        std::lock_guard lock(udp.udpMutex);
        socket = udp.socket.get();
        endpoint = udp.endpoint;
    }
    if (socket == INVALID_SOCKET) {
        return false;
    }
    const std::vector<unsigned char> datagram = BuildUdpData(token, packet.data(), packet.size());
    if (SendTo(socket, datagram, endpoint) != static_cast<int>(datagram.size())) {
        udp.ready = false;
        return false;
    }
    return true;
}

void UdpReceiveLoop(UdpPath& udp, TunnelDataPath& path) {
    std::vector<std::uint8_t> buffer(kUdpMaxDatagramLength);
    while (Active(path)) {
        SOCKET socket = INVALID_SOCKET;
        {
            std::lock_guard lock(udp.udpMutex);
            socket = udp.socket.get();
        }
        if (socket == INVALID_SOCKET) {
            return;
        }
        sockaddr_in from{};
        int fromLength = sizeof(from);
        const int received = recvfrom(socket, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()),
                                      0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (!Active(path) || error == WSAENOTSOCK || error == ERROR_OPERATION_ABORTED) {
                return;
            }
            if (error != WSAETIMEDOUT) {
                udp.ready = false;
                std::this_thread::sleep_for(kReceiveErrorPause);
            }
            continue;
        }
        const auto length = static_cast<std::size_t>(received);
        if (const auto token = ParseUdpAcknowledgement(buffer.data(), length)) {
            udp.token = *token;
            udp.lastAcknowledgement = udp.clock();
            udp.ready = true;
        } else if (const auto data = ParseUdpData(buffer.data(), length)) {
            if (data->payloadLength > 0 && data->token == udp.token.load()) {
                DispatchInbound(path, std::span<std::uint8_t>(buffer.data() + kUdpDataHeaderLength, data->payloadLength));
            }
        }
    }
}

void UdpKeepaliveLoop(UdpPath& udp, TunnelDataPath& path) {
    while (Active(path)) {
        for (int step = 0; step < udp.timings.keepaliveSteps; ++step) {
            if (!Active(path) || !udp.open.load()) {
                return;
            }
            std::this_thread::sleep_for(kStep);
        }
        SOCKET socket = INVALID_SOCKET;
        sockaddr_in endpoint{};
        std::vector<unsigned char> hello;
        {
            std::lock_guard lock(udp.udpMutex);
            socket = udp.socket.get();
            endpoint = udp.endpoint;
            hello = udp.hello;
        }
        if (socket == INVALID_SOCKET || hello.empty()) {
            return;
        }
        const bool sent = SendTo(socket, hello, endpoint) == static_cast<int>(hello.size());
        const std::uint64_t last = udp.lastAcknowledgement.load();
        if (!sent || last == 0 || udp.clock() - last > udp.timings.acknowledgementMaxAgeMs) {
            udp.ready = false;
        }
    }
}

}  // namespace ostrevane
