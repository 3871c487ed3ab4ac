#include "tunnel/tunnel_engine.h"

#include <algorithm>
#include <stdexcept>

#include "settings/text_utils.h"
#include "tunnel/capture_loop.h"
#include "tunnel/divert_api.h"
#include "tunnel/divert_filter.h"
#include "tunnel/ipv4_network.h"
#include "tunnel/relay_url.h"
#include "tunnel/service_command.h"

namespace ostrevane {
namespace {

constexpr std::chrono::milliseconds kStep{100};
constexpr int kMaxReconnectDelay = 10;

// Datagrams of the UDP path would carry packets in clear beside an encrypted relay: with a wss://
// relay every packet takes the relay, and the start says so once.
constexpr wchar_t kSecureRelayNote[] = L"中继已加密（wss），不使用 UDP 通道：所有数据包经加密中继传输。";

bool IsSecureRelay(const std::wstring& relayUrl) { return relayUrl.starts_with(L"wss://"); }

void JoinIfRunning(std::thread& thread) {
    if (thread.joinable()) {
        thread.join();
    }
}

}  // namespace

TunnelEngine::TunnelEngine() : TunnelEngine(TunnelEngineOptions{}) {}

TunnelEngine::TunnelEngine(TunnelEngineOptions options) : options_(options) { udp_.timings = options_.udp; }

TunnelEngine::~TunnelEngine() { Stop(); }

std::size_t TunnelEngine::flowCount() {
    std::lock_guard lock(path_.natMutex);
    return path_.flows.size();
}

std::wstring TunnelEngine::Start(const std::wstring& serverUrl, const std::wstring& connectionId,
                                 const std::wstring& engineerId, const std::wstring& assignedAddress,
                                 const std::vector<std::wstring>& routes) {
    Stop();
    serverUrl_ = serverUrl;
    connectionId_ = connectionId;
    engineerId_ = engineerId;

    const std::optional<std::uint32_t> address = ParseAssignedAddress(assignedAddress);
    if (!address) {
        throw std::runtime_error("Invalid assigned tunnel address.");
    }
    path_.assignedAddress = *address;
    path_.mappings = ChooseMappingNetworks(ParseTargetRoutes(routes));
    if (path_.mappings.empty()) {
        throw std::runtime_error("No valid target routes were configured.");
    }
    path_.api = LoadDivertApi();

    std::vector<Ipv4Network> mappingNetworks;
    for (const RouteMapping& mapping : path_.mappings) {
        mappingNetworks.push_back({mapping.mappingNetwork, mapping.mappingPrefix});
    }
    const std::wstring filter = BuildDivertFilter(mappingNetworks);
    const std::wstring relayPath =
        L"/api/relay/client/" + PercentEncode(connectionId) + L"?engineerId=" + PercentEncode(engineerId);
    const std::wstring relayUrl = BuildRelayUrl(serverUrl, relayPath);

    try {
        filterText_ = filter;
        relayUrl_ = relayUrl;
        OpenTunnel();
    } catch (...) {
        Stop();
        throw;
    }
    const std::wstring started = L"工程师端软件隧道已启动：" + connectionId;
    return IsSecureRelay(relayUrl) ? started + L"\r\n" + kSecureRelayNote : started;
}

void TunnelEngine::OpenTunnel() {
    path_.stopping = false;
    path_.running = false;
    relayConnected_ = false;
    reconnectDelay_ = 1;

    ConnectRelay();
    path_.running = true;
    if (!IsSecureRelay(relayUrl_)) {
        OpenUdpPath(udp_, path_, serverUrl_, connectionId_, engineerId_);
    }

    const std::string filter = WideToUtf8(filterText_);
    const HANDLE capture = path_.api->open(filter.c_str(), WINDIVERT_LAYER_NETWORK, kCapturePriority, 0);
    if (capture == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("WinDivertOpen failed for filter: " + filter);
    }
    path_.captureHandle = capture;
    const HANDLE injection =
        path_.api->open("false", WINDIVERT_LAYER_NETWORK, kInjectionPriority, WINDIVERT_FLAG_SEND_ONLY);
    if (injection == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("WinDivertOpen failed for filter: false");
    }
    path_.injectionHandle = injection;

    captureThread_ = std::thread([this] { CaptureLoop(path_); });
    relayThread_ = std::thread([this] { RelayLoop(); });
    sendThread_ = std::thread([this] { SendLoop(); });
}

bool TunnelEngine::ConnectRelay() {
    std::lock_guard lock(relayMutex_);
    if (path_.stopping.load()) {
        return false;
    }
    relay_.reset();
    auto relay = std::make_shared<WebSocketRelay>(relayUrl_);
    relay->Connect();  // throws; the old relay stays dropped
    relay_ = std::move(relay);
    relayConnected_ = true;
    return true;
}

std::shared_ptr<WebSocketRelay> TunnelEngine::CurrentRelay() {
    std::lock_guard lock(relayMutex_);
    return relay_;
}

void TunnelEngine::CloseRelaySocket() {
    std::lock_guard lock(relayMutex_);
    if (relay_) {
        relay_->Close();
    }
}

void TunnelEngine::DropRelay() {
    if (path_.stopping.load() || !path_.running.load()) {
        return;
    }
    relayConnected_ = false;
    path_.sendQueue.WakeAll();
    std::lock_guard lock(relayMutex_);
    if (relay_) {
        relay_->Close();
    }
    CloseUdpPath(udp_);  // udpMutex inside relayMutex
}

void TunnelEngine::RelayLoop() {
    while (path_.running.load() && !path_.stopping.load()) {
        ReceiveUntilFailure();
        while (path_.running.load() && !path_.stopping.load() && !TryReconnect()) {
        }
    }
}

void TunnelEngine::ReceiveUntilFailure() {
    std::vector<std::uint8_t> message;
    while (!path_.stopping.load()) {
        const std::shared_ptr<WebSocketRelay> relay = CurrentRelay();
        if (!relay || !relay->ReceiveMessage(message)) {
            DropRelay();
            return;
        }
        DispatchInbound(path_, message);
        if (!path_.running.load()) {
            return;
        }
    }
}

bool TunnelEngine::TryReconnect() {
    relayConnected_ = false;
    const int steps = reconnectDelay_.load() * static_cast<int>(options_.backoffUnit / kStep);
    for (int step = 0; step < std::max(steps, 1); ++step) {
        if (!path_.running.load() || path_.stopping.load()) {
            return false;
        }
        std::this_thread::sleep_for(kStep);
    }
    if (!path_.running.load() || path_.stopping.load()) {
        return false;
    }
    try {
        CloseUdpPath(udp_);
        JoinUdpThreads(udp_);
        {
            std::lock_guard lock(path_.natMutex);
            path_.flows.clear();
        }
        path_.sendQueue.Clear();
        const bool connected = ConnectRelay();
        if (!IsSecureRelay(relayUrl_)) {
            OpenUdpPath(udp_, path_, serverUrl_, connectionId_, engineerId_);
        }
        reconnectDelay_ = 1;
        return connected;
    } catch (const std::exception&) {
        reconnectDelay_ = std::min(reconnectDelay_.load() * 2, kMaxReconnectDelay);
        return false;
    }
}

void TunnelEngine::SendLoop() {
    while (path_.running.load() && !path_.stopping.load()) {
        if (!relayConnected_.load()) {
            std::this_thread::sleep_for(kStep);
            continue;
        }
        std::optional<std::vector<std::uint8_t>> packet = path_.sendQueue.WaitPop(path_.stopping);
        if (!packet) {
            continue;
        }
        if (SendOverUdp(udp_, *packet)) {
            continue;
        }
        const std::shared_ptr<WebSocketRelay> relay = CurrentRelay();
        if (relay && relay->SendFrame(2, *packet)) {  // false when the relay is no longer connected
            continue;
        }
        DropRelay();  // the packet is lost
    }
}

std::wstring TunnelEngine::Stop() {
    const bool wasRunning = path_.running.exchange(false);
    path_.stopping = true;
    path_.sendQueue.WakeAll();
    if (path_.api) {
        path_.CloseHandles();  // ends the capture thread's blocked receive
    }
    CloseRelaySocket();  // ends the relay thread's blocked receive
    CloseUdpPath(udp_);  // ends the UDP receive and keep-alive waits
    JoinIfRunning(captureThread_);
    JoinIfRunning(relayThread_);
    JoinIfRunning(sendThread_);
    // Only now: a reconnection on the relay thread may have been joining or opening the UDP path
    // until that thread ended, and may have left a new one open.
    CloseUdpPath(udp_);
    JoinUdpThreads(udp_);
    EndUdpWinsock(udp_);
    {
        std::lock_guard lock(relayMutex_);
        relay_.reset();
    }
    path_.api.reset();  // unloads the library
    relayConnected_ = false;
    {
        std::lock_guard lock(path_.natMutex);
        path_.flows.clear();
    }
    if (options_.runServiceCommands) {
        for (const wchar_t* command : kDriverServiceCommands) {
            RunServiceCommand(command);
        }
    }
    // When nothing was running, saying so beats the misleading "running" text.
    return wasRunning ? L"软件隧道已停止。" : L"软件隧道未运行。";
}

}  // namespace ostrevane
