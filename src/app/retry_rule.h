// The automatic authorization retry: after a worker ends without a session and with a refusal
// code that may clear by itself, the window tries the connect command again every five seconds.
#pragma once

#include "settings/client_state.h"

namespace ostrevane {

inline constexpr unsigned kRetryTimerId = 303;
inline constexpr unsigned kRetryPeriodMs = 5000;
inline constexpr wchar_t kRetryAnnouncement[] = L"授权未恢复，将每 5 秒自动重试连接。";
inline constexpr wchar_t kRetryStatus[] = L"正在自动重试连接授权...";

// True when the state reloaded after a worker holds no connection and a retryable refusal code.
bool ArmsAuthorizationRetry(const ClientState& state);

// True when a tick of the armed timer starts a connect: idle, no connection, a retryable code, and
// no new access key half typed (the tick after the edit, once the key box has lost the focus,
// sends the new key).
bool RetriesOnTick(bool busy, const ClientState& state, bool accessKeyBeingEdited);

}  // namespace ostrevane
