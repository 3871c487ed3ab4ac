// The outer form of every control-service answer: success, a machine code, a human message and
// the operation's data. Success is decided from the envelope alone, never from the HTTP status.
#pragma once

#include <string>

#include "settings/json_value.h"

namespace ostrevane {

struct ApiEnvelope {
    bool success = false;  // only the JSON literal true counts
    std::wstring code;
    std::wstring message;
    JsonValue data;  // null when absent
};

// Reads the body as one JSON value (trailing text ignored). Raises the parser's "Invalid JSON." or
// "Invalid JSON string." when the body starts like an object, array or string but is malformed;
// any other non-JSON body reads as a refusal with empty code and message.
ApiEnvelope ParseApiEnvelope(const std::wstring& body);

// True for the refusal codes after which the window retries the authorization on its own:
// DEVICE_NOT_BOUND, TRAFFIC_QUOTA_EXCEEDED, CONCURRENT_LIMIT_EXCEEDED, DEVICE_OFFLINE,
// DEVICE_RELAY_OFFLINE, compared without regard to case.
bool IsRetryableAuthorizationError(const std::wstring& code);

}  // namespace ostrevane
