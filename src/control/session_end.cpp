#include "control/session_end.h"

#include "control/http_transport.h"
#include "control/proxy_bypass.h"
#include "settings/json_value.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane {
namespace {

void ClearSessionFields(ClientState& state) {
    state.connectionId.clear();
    state.assignedAddress.clear();
    state.routesText.clear();
}

}  // namespace

ApiEnvelope ReportDisconnect(const ClientState& state, const std::wstring& reason) {
    const std::wstring path = L"/api/connections/" + PercentEncode(state.connectionId) + L"/disconnect";
    const std::wstring body = L"{\"engineerId\":\"" + JsonEscape(state.engineerId) + L"\",\"reason\":\"" + JsonEscape(reason) + L"\"}";
    return PostJson(state.serverUrl, path, body);
}

std::wstring EndSession(ClientState& state, TunnelEngine* engine) {
    const std::wstring stopped = engine != nullptr ? engine->Stop() : std::wstring{};
    std::wstring message;
    if (!state.connectionId.empty()) {
        const ApiEnvelope reply = ReportDisconnect(state, kReasonClientDisconnected);
        message += reply.success ? L"远程调试会话已断开。\r\n" : L"会话断开上报失败：" + reply.message + L"\r\n";
    }
    const std::wstring bypass = RemoveProxyBypass();
    if (!bypass.empty()) {
        message += bypass + L"\r\n";
    }
    // The tunnel's stop is the outcome, so it ends the message: the status line shows the last line.
    message += stopped;
    ClearSessionFields(state);
    state.targetNetwork = L"ALL";
    SaveClientState(state);
    return message;
}

void DisconnectOperation(ClientState& snapshot, EngineSlot engine, std::wstring& message) {
    message = EndSession(snapshot, EngineIn(engine));
    snapshot.heartbeatMessage.clear();
    SaveClientState(snapshot);
}

void RunFailureCleanUp(ClientState& snapshot, EngineSlot engine) noexcept {
    try {
        if (TunnelEngine* tunnel = EngineIn(engine)) {
            tunnel->Stop();
        }
    } catch (...) {
    }
    if (!snapshot.connectionId.empty()) {
        try {
            ReportDisconnect(snapshot, kReasonTunnelStartFailed);
        } catch (...) {
            // An unreachable service must not keep the session fields from being cleared.
        }
    }
    try {
        RemoveProxyBypass();  // a failed start leaves no stale entries
        ClearSessionFields(snapshot);
        SaveClientState(snapshot);
    } catch (...) {
    }
}

}  // namespace ostrevane
