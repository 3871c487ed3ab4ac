#include "tunnel/tunnel_engine.h"

#include <algorithm>
#include <stdexcept>

#include "platform/unique_handle.h"
#include "settings/text_utils.h"
#include "tunnel/capture_loop.h"
#include "tunnel/divert_api.h"
#include "tunnel/divert_filter.h"
#include "tunnel/ipv4_network.h"
#include "tunnel/relay_url.h"
#include "tunnel/service_command.h"

namespace ostrevane {
namespace {

constexpr int kMaxReconnectDelay = 10;
// One batch of frames fits one socket write.
constexpr std::size_t kSendBatchPackets = 64;
constexpr std::size_t kSendBatchBytes = websocket::kMaxChunk - 64 * 14;  // room for the frame headers
constexpr char kStoppedWhileStarting[] = "The tunnel was stopped while it was starting.";

// Datagrams of the UDP path would carry packets in clear beside an encrypted relay: with a wss://
// relay every packet takes the relay, and the start says so once.
constexpr wchar_t kSecureRelayNote[] = L"中继已加密（wss），不使用 UDP 通道：所有数据包经加密中继传输。";

bool IsSecureRelay(const std::wstring& relayUrl) {
    try {
        return ParseRelayUrl(relayUrl).secure;
    } catch (const std::exception&) {
        return false;  // a URL that cannot be parsed never connected either
    }
}

void JoinIfRunning(std::thread& thread) {
    if (thread.joinable()) {
        thread.join();
    }
}

}  // namespace

TunnelEngine::TunnelEngine() : TunnelEngine(TunnelEngineOptions{}) {}

TunnelEngine::TunnelEngine(TunnelEngineOptions options) : options_(options) {}

TunnelEngine::~TunnelEngine() { Stop(); }

std::size_t TunnelEngine::flowCount() {
    std::lock_guard lock(path_.natMutex);
    return path_.flows.size();
}

std::shared_ptr<UdpPath> TunnelEngine::CurrentUdp() {
    std::lock_guard lock(udpMutex_);
    return udp_;
}

bool TunnelEngine::udpReady() {
    const std::shared_ptr<UdpPath> udp = CurrentUdp();
    return udp && udp->ready();
}

std::uint64_t TunnelEngine::udpToken() {
    const std::shared_ptr<UdpPath> udp = CurrentUdp();
    return udp ? udp->token() : 0;
}

std::uint16_t TunnelEngine::udpLocalPort() {
    const std::shared_ptr<UdpPath> udp = CurrentUdp();
    return udp ? udp->localPort() : 0;
}

bool TunnelEngine::udpThreadsRunning() {
    const std::shared_ptr<UdpPath> udp = CurrentUdp();
    return udp && udp->running();
}

std::wstring TunnelEngine::Start(const std::wstring& serverUrl, const std::wstring& connectionId,
                                 const std::wstring& engineerId, const std::wstring& assignedAddress,
                                 const std::vector<std::wstring>& routes) {
    std::lock_guard lifecycle(lifecycleMutex_);
    StopLocked();
    try {
        serverUrl_ = serverUrl;
        connectionId_ = connectionId;
        engineerId_ = engineerId;
        StartLocked(assignedAddress, routes);
    } catch (...) {
        // A Stop that ended this start runs the driver-service clean-up itself, right after.
        StopLocked(pendingStops_.load() == 0);
        throw;
    }
    const std::wstring started = L"工程师端软件隧道已启动：" + connectionId;
    return IsSecureRelay(relayUrl_) ? started + L"\r\n" + kSecureRelayNote : started;
}

void TunnelEngine::ThrowIfStopRequested() const {
    if (pendingStops_.load() > 0) {
        throw std::runtime_error(kStoppedWhileStarting);
    }
}

void TunnelEngine::StartLocked(const std::wstring& assignedAddress, const std::vector<std::wstring>& routes) {
    ThrowIfStopRequested();
    const std::optional<std::uint32_t> address = ParseAssignedAddress(assignedAddress);
    if (!address) {
        throw std::runtime_error("Invalid assigned tunnel address.");
    }
    path_.assignedAddress = *address;
    path_.mappings = ChooseMappingNetworks(ParseTargetRoutes(routes));
    if (path_.mappings.empty()) {
        throw std::runtime_error("No valid target routes were configured.");
    }
    serviceCleanedUp_ = false;  // the driver may be installed from here on
    path_.api = LoadDivertApi();

    std::vector<Ipv4Network> mappingNetworks;
    for (const RouteMapping& mapping : path_.mappings) {
        mappingNetworks.push_back({mapping.mappingNetwork, mapping.mappingPrefix});
    }
    filterText_ = BuildDivertFilter(mappingNetworks);
    const std::wstring relayPath =
        L"/api/relay/client/" + PercentEncode(connectionId_) + L"?engineerId=" + PercentEncode(engineerId_);
    relayUrl_ = BuildRelayUrl(serverUrl_, relayPath);
    OpenTunnel();
}

void TunnelEngine::OpenTunnel() {
    path_.stopping = false;
    path_.running = false;
    relayConnected_ = false;
    reconnectDelay_ = 1;

    ConnectRelay();
    path_.running = true;
    OpenUdpPath();
    ThrowIfStopRequested();

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
    ThrowIfStopRequested();

    captureThread_ = std::thread([this] { CaptureLoop(path_); });
    relayThread_ = std::thread([this] { RelayLoop(); });
    sendThread_ = std::thread([this] { SendLoop(); });
}

// The attempt is visible to Stop while it runs, so that a Stop aborts it instead of waiting for
// the connect and the handshake to give up; no lock is held across the network calls.
void TunnelEngine::ConnectRelay() {
    auto relay = std::make_shared<WebSocketRelay>(relayUrl_, &path_.counters);
    {
        std::lock_guard lock(relayMutex_);
        if (StopRequested()) {
            throw std::runtime_error(kStoppedWhileStarting);
        }
        connecting_ = relay;
    }
    ScopeExit forget([&] {
        std::lock_guard lock(relayMutex_);
        if (connecting_ == relay) {
            connecting_.reset();
        }
    });
    try {
        relay->Connect();  // a Close from Stop makes it throw at once
    } catch (const std::exception&) {
        if (StopRequested()) {
            throw std::runtime_error(kStoppedWhileStarting);
        }
        throw;
    }
    {
        std::lock_guard lock(relayMutex_);
        if (StopRequested()) {
            throw std::runtime_error(kStoppedWhileStarting);
        }
        relay_ = std::move(relay);
        relayConnected_ = true;
    }
    WakeWaiters();
}

std::shared_ptr<WebSocketRelay> TunnelEngine::CurrentRelay() {
    std::lock_guard lock(relayMutex_);
    return relay_;
}

void TunnelEngine::CloseRelays() noexcept {
    std::lock_guard lock(relayMutex_);
    for (const std::shared_ptr<WebSocketRelay>& relay : {relay_, connecting_}) {
        if (relay) {
            relay->Close();
        }
    }
}

// Only the relay that failed is dropped: a sender that failed on the old relay may get here
// after a reconnection installed the new one, which is not its to close.
void TunnelEngine::DropRelay(const std::shared_ptr<WebSocketRelay>& failed) {
    if (path_.stopping.load() || !path_.running.load()) {
        return;
    }
    std::shared_ptr<UdpPath> udp;
    {
        std::lock_guard lock(relayMutex_);
        if (!failed || relay_ != failed) {
            return;
        }
        relay_->Close();
        relayConnected_ = false;
        std::lock_guard udpLock(udpMutex_);  // the UDP path of this relay, not of a later one
        udp = std::move(udp_);
    }
    if (udp) {
        udp->Shutdown();
    }
    path_.sendQueue.WakeAll();
}

void TunnelEngine::OpenUdpPath() {
    if (IsSecureRelay(relayUrl_)) {
        return;
    }
    const std::shared_ptr<UdpPath> udp =
        UdpPath::Create(serverUrl_, connectionId_, engineerId_, options_.udp, &SteadyMilliseconds, &path_.counters);
    if (!udp) {
        return;
    }
    {
        std::lock_guard lock(udpMutex_);
        if (StopRequested()) {
            return;
        }
        udp_ = udp;  // visible to Stop while it negotiates
    }
    if (udp->Negotiate(path_)) {
        udp->Run(path_);
        return;
    }
    std::lock_guard lock(udpMutex_);
    if (udp_ == udp) {
        udp_.reset();
    }
}

void TunnelEngine::ShutdownUdpPath() {
    std::shared_ptr<UdpPath> udp;
    {
        std::lock_guard lock(udpMutex_);
        udp = std::move(udp_);
    }
    if (udp) {
        udp->Shutdown();
    }
}

void TunnelEngine::WakeWaiters() {
    { std::lock_guard lock(wakeMutex_); }
    wakeCv_.notify_all();
    path_.sendQueue.WakeAll();
}

bool TunnelEngine::WaitUnlessStopping(std::chrono::milliseconds duration) {
    std::unique_lock lock(wakeMutex_);
    return !wakeCv_.wait_for(lock, duration, [this] { return path_.stopping.load() || !path_.running.load(); });
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
            DropRelay(relay);
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
    if (!WaitUnlessStopping(reconnectDelay_.load() * options_.backoffUnit)) {
        return false;
    }
    try {
        ShutdownUdpPath();
        {
            std::lock_guard lock(path_.natMutex);
            path_.flows.clear();
        }
        path_.sendQueue.Clear();
        ConnectRelay();
        OpenUdpPath();
        reconnectDelay_ = 1;
        return true;
    } catch (const std::exception&) {
        reconnectDelay_ = std::min(reconnectDelay_.load() * 2, kMaxReconnectDelay);
        return false;
    }
}

// Everything queued goes out together: small UDP packets each as their own datagram, the rest
// as one write of back-to-back frames, so that a busy tunnel makes one relay send per batch
// instead of one per packet.
void TunnelEngine::SendLoop() {
    std::vector<std::vector<std::uint8_t>> batch;
    std::vector<std::vector<std::uint8_t>> overRelay;
    while (path_.running.load() && !path_.stopping.load()) {
        if (!relayConnected_.load()) {
            std::unique_lock lock(wakeMutex_);
            wakeCv_.wait(lock, [this] {
                return relayConnected_.load() || path_.stopping.load() || !path_.running.load();
            });
            continue;
        }
        // The buffers of the last batch go back to the queue for reuse.
        for (std::vector<std::uint8_t>& packet : overRelay) {
            batch.push_back(std::move(packet));
        }
        overRelay.clear();
        if (!path_.sendQueue.WaitPopBatch(path_.stopping, batch, kSendBatchPackets, kSendBatchBytes)) {
            continue;
        }
        const std::shared_ptr<UdpPath> udp = CurrentUdp();
        for (std::vector<std::uint8_t>& packet : batch) {
            if (!udp || !udp->Send(packet)) {
                overRelay.push_back(std::move(packet));  // moves the buffer, not the bytes
            }
        }
        if (overRelay.empty()) {
            continue;
        }
        const std::shared_ptr<WebSocketRelay> relay = CurrentRelay();
        if (relay && relay->SendFrames(websocket::kBinary, overRelay)) {  // false when no longer connected
            continue;
        }
        TunnelCounters::Add(path_.counters.packetsDropped, overRelay.size());
        DropRelay(relay);  // the packets are lost
    }
}

void TunnelEngine::RequestStop() noexcept {
    path_.stopping = true;
    WakeWaiters();
    CloseRelays();      // aborts a connect, a handshake or a blocked receive
    ShutdownUdpPath();  // aborts a negotiation or the UDP receive and keep-alive waits
}

std::wstring TunnelEngine::Stop() {
    ++pendingStops_;
    RequestStop();
    std::lock_guard lifecycle(lifecycleMutex_);
    std::wstring result = StopLocked();
    --pendingStops_;
    return result;
}

std::wstring TunnelEngine::StopLocked(bool runServiceCommands) {
    const bool wasRunning = path_.running.exchange(false);
    RequestStop();
    path_.ShutdownCapture();  // ends the capture thread's blocked receive
    JoinIfRunning(captureThread_);
    JoinIfRunning(relayThread_);
    JoinIfRunning(sendThread_);
    // Only now: a reconnection on the relay thread may have opened a UDP path until that thread
    // ended. Its owner joins its threads and closes its socket when the last copy goes.
    ShutdownUdpPath();
    {
        std::lock_guard lock(relayMutex_);
        relay_.reset();
        connecting_.reset();
    }
    path_.CloseHandles();  // every thread that used them is gone
    path_.api.reset();     // unloads the library
    relayConnected_ = false;
    {
        std::lock_guard lock(path_.natMutex);
        path_.flows.clear();
    }
    path_.sendQueue.Clear();  // packets of this tunnel never reach the next one's relay
    // Once it has run, it runs again only after the library was loaded once more: under a
    // window that closes during a start, the stop, the worker's clean-up and the window would
    // otherwise each start the same four programs.
    if (options_.runServiceCommands && runServiceCommands && !serviceCleanedUp_) {
        for (const wchar_t* command : kDriverServiceCommands) {
            RunServiceCommand(command);
        }
        serviceCleanedUp_ = true;
    }
    // When nothing was running, saying so beats the misleading "running" text.
    return wasRunning ? L"软件隧道已停止。" : L"软件隧道未运行。";
}

}  // namespace ostrevane
