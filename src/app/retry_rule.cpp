#include "app/retry_rule.h"

#include "control/api_envelope.h"

namespace ostrevane {

bool ArmsAuthorizationRetry(const ClientState& state) {
    return state.connectionId.empty() && IsRetryableAuthorizationError(state.heartbeatMessage);
}

bool RetriesOnTick(bool busy, const ClientState& state, bool accessKeyBeingEdited) {
    return !busy && !accessKeyBeingEdited && ArmsAuthorizationRetry(state);
}

}  // namespace ostrevane
