#include "support/request_log.h"

#include "support/reference_service.h"

namespace ostrevane::testing {

std::vector<RecordedRequest> RecordedRequests() {
    std::vector<RecordedRequest> requests;
    const JsonValue data = ServiceData(L"GET", L"/admin/requests");
    if (const auto* list = std::get_if<JsonArray>(&data)) {
        for (const JsonValue& entry : *list) {
            requests.push_back({JsonText(entry, L"target"), JsonText(entry, L"body"), JsonNumber(entry, L"time")});
        }
    }
    return requests;
}

std::vector<RecordedRequest> RequestsTo(const std::string& prefix) {
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest& request : RecordedRequests()) {
        if (request.target.rfind(prefix, 0) == 0) {
            matching.push_back(request);
        }
    }
    return matching;
}

}  // namespace ostrevane::testing
