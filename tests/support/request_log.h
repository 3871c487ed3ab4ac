// The reference service's record of the requests it received, as tests read it: which paths were
// called, with which bodies, and when on the service's own clock.
#pragma once

#include <string>
#include <vector>

namespace ostrevane::testing {

struct RecordedRequest {
    std::string target;  // as sent, not decoded
    std::string body;
    double time = 0;     // seconds since the service started
};

// Every recorded request since the last reset, oldest first.
std::vector<RecordedRequest> RecordedRequests();

// Those whose target starts with the prefix.
std::vector<RecordedRequest> RequestsTo(const std::string& prefix);

}  // namespace ostrevane::testing
