#include "control/connect_operations.h"

#include <stdexcept>
#include <vector>

#include "control/http_transport.h"
#include "control/proxy_bypass.h"
#include "control/session_end.h"
#include "settings/json_value.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane {
namespace {

// A string member of the answer replaces the field; anything else leaves it.
void TakeString(const JsonValue& data, const wchar_t* key, std::wstring& field) {
    field = JsonStringOr(data, key, field);
}

}  // namespace

void ResolveDevice(ClientState& snapshot, EngineSlot, std::wstring& message) {
    const ApiEnvelope reply = PostJson(snapshot.serverUrl, L"/api/devices/resolve",
                                       L"{\"deviceSecret\":\"" + JsonEscape(snapshot.deviceSecret) + L"\"}");
    if (!reply.success) {
        message = L"Resolve failed: " + reply.message;
        return;
    }
    TakeString(reply.data, L"deviceNumber", snapshot.deviceNumber);
    const std::vector<std::wstring> networks = JsonStringElements(reply.data, L"sharedNetworks");
    if (!networks.empty()) {
        snapshot.routesText = JoinLines(networks);
        snapshot.targetNetwork = networks.front();
    }
    TakeString(reply.data, L"deviceName", snapshot.deviceName);
    if (snapshot.profileName.empty()) {
        snapshot.profileName = !snapshot.deviceName.empty() ? snapshot.deviceName : snapshot.deviceNumber;
    }
    SaveClientState(snapshot);
    message = L"已获取现场端 " + snapshot.deviceNumber + L" 的共享网段。";
}

std::wstring RequestConnectionAuthorization(ClientState& state) {
    if (state.engineerId.empty()) {
        state.engineerId = NewEngineerId();
    }
    const std::wstring body = L"{\"deviceNumber\":\"" + JsonEscape(state.deviceNumber) + L"\",\"deviceSecret\":\"" +
                              JsonEscape(state.deviceSecret) + L"\",\"targetNetwork\":\"" +
                              JsonEscape(state.targetNetwork) + L"\",\"engineerId\":\"" +
                              JsonEscape(state.engineerId) + L"\",\"clientPublicKey\":\"\"}";
    const ApiEnvelope reply = PostJson(state.serverUrl, L"/api/connections/request", body);
    if (!reply.success) {
        state.heartbeatMessage = reply.code;
        SaveClientState(state);
        return L"Connection authorization failed: " + reply.message;
    }
    std::wstring connectionId;
    std::wstring assignedAddress;
    TakeString(reply.data, L"connectionId", connectionId);
    TakeString(reply.data, L"assignedAddress", assignedAddress);
    const std::vector<std::wstring> routes = JsonStringElements(reply.data, L"routes");
    if (connectionId.empty() || assignedAddress.empty() || routes.empty()) {
        throw std::runtime_error("Connection authorization response is missing connectionId, assignedAddress, or routes.");
    }
    state.connectionId = connectionId;
    state.assignedAddress = assignedAddress;
    state.routesText = JoinLines(routes);
    TakeString(reply.data, L"deviceNumber", state.deviceNumber);
    TakeString(reply.data, L"targetNetwork", state.targetNetwork);
    state.heartbeatMessage.clear();
    const std::wstring bypass = AddProxyBypass(routes);
    SaveClientState(state);
    std::wstring message = L"连接授权成功：" + state.connectionId + L"，分配地址 " + state.assignedAddress + L"，路由 " +
                           state.routesText;
    if (!bypass.empty()) {
        message += L"\r\n" + bypass;
    }
    return message;
}

void ConnectOperation(ClientState& snapshot, EngineSlot engine, std::wstring& message) {
    // Ending the earlier session resets the target network; the request carries the engineer's choice.
    const std::wstring chosenTarget = snapshot.targetNetwork;
    message = EndSession(snapshot, EngineIn(engine));
    snapshot.connectionId.clear();
    snapshot.assignedAddress.clear();
    snapshot.routesText.clear();
    snapshot.targetNetwork = chosenTarget.empty() ? L"ALL" : chosenTarget;
    message += L"\r\n" + RequestConnectionAuthorization(snapshot);
    if (snapshot.connectionId.empty()) {
        return;
    }
    TunnelEngine* tunnel = EngineIn(engine);
    if (tunnel == nullptr) {
        throw std::runtime_error("The software tunnel engine is missing.");
    }
    message += L"\r\n" + tunnel->Start(snapshot.serverUrl, snapshot.connectionId, snapshot.engineerId,
                                       snapshot.assignedAddress, SplitNetworkList(snapshot.routesText));
}

}  // namespace ostrevane
