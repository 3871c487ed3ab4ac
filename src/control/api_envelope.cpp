#include "control/api_envelope.h"

#include "settings/json_parser.h"
#include "settings/text_utils.h"

namespace ostrevane {

ApiEnvelope ParseApiEnvelope(const std::wstring& body) {
    const JsonValue root = ParseJsonDocument(body);
    ApiEnvelope envelope;
    if (const bool* success = JsonFindAs<bool>(root, L"success")) {
        envelope.success = *success;
    }
    if (const std::wstring* code = JsonFindAs<std::wstring>(root, L"code")) {
        envelope.code = *code;
    }
    if (const std::wstring* message = JsonFindAs<std::wstring>(root, L"message")) {
        envelope.message = *message;
    }
    if (const JsonValue* data = JsonFind(root, L"data")) {
        envelope.data = *data;
    }
    return envelope;
}

bool IsRetryableAuthorizationError(const std::wstring& code) {
    for (const wchar_t* retryable : {L"DEVICE_NOT_BOUND", L"TRAFFIC_QUOTA_EXCEEDED", L"CONCURRENT_LIMIT_EXCEEDED",
                                     L"DEVICE_OFFLINE", L"DEVICE_RELAY_OFFLINE"}) {
        if (EqualsIgnoringCase(code, retryable)) {
            return true;
        }
    }
    return false;
}

}  // namespace ostrevane
