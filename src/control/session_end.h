// Ending a remote debugging session in order: the tunnel stops, the service hears of it, the
// session's proxy-bypass entries go, and the session fields are cleared and saved. Also the
// clean-up after any worker operation that failed with an exception.
#pragma once

#include <string>

#include "control/api_envelope.h"
#include "control/worker_operation.h"

namespace ostrevane {

inline constexpr wchar_t kReasonClientDisconnected[] = L"本地客户端断开连接";
inline constexpr wchar_t kReasonTunnelStartFailed[] = L"本地隧道启动失败";

// POST "/api/connections/<id>/disconnect" with the engineer id and the reason.
ApiEnvelope ReportDisconnect(const ClientState& state, const std::wstring& reason);

// Stops the tunnel, reports a held connection, removes its proxy bypass, clears connectionId,
// assignedAddress and routesText, sets targetNetwork to "ALL" and saves. Returns the message.
std::wstring EndSession(ClientState& state, TunnelEngine* engine);

// The disconnect command: EndSession, then the refusal code is forgotten (ending the retries).
void DisconnectOperation(ClientState& snapshot, EngineSlot engine, std::wstring& message);

// After an operation failed with an exception: stop the tunnel, report a held connection as a
// failed start (a failing report is ignored), remove the bypass entries it added, clear the session
// fields and save. Never throws.
void RunFailureCleanUp(ClientState& snapshot, EngineSlot engine) noexcept;

}  // namespace ostrevane
