// Shortcuts for tests against the reference service: a grant, faults, scenarios and resets,
// on top of the plain calls of service_client.h.
#pragma once

#include <string>
#include <vector>

#include "settings/json_value.h"
#include "support/service_client.h"

namespace ostrevane::testing {

inline constexpr wchar_t kDemoAccessKey[] = L"OVK-DEMO-7F3A-2C91-5E08";
inline constexpr wchar_t kDemoDeviceNumber[] = L"SITE-0001";

// The "data" member of an admin or API call's envelope (ServiceCall); fails the current test
// instead of throwing when the call is refused or the service cannot be reached.
JsonValue ServiceData(const std::wstring& method, const std::wstring& path, const std::string& body = {});

struct Grant {
    std::wstring connectionId;
    std::wstring assignedAddress;
    std::vector<std::wstring> routes;
};

Grant RequestGrant(const std::wstring& engineerId, const std::wstring& targetNetwork = L"ALL",
                   const std::wstring& accessKey = kDemoAccessKey, const std::wstring& deviceNumber = kDemoDeviceNumber);

// One request from the service's request log: method, target as sent, body as UTF-8, and when it
// arrived in seconds on the service's own clock.
struct RecordedCall {
    std::string method;
    std::string target;
    std::string body;
    double time = 0;
};
std::vector<RecordedCall> RecordedCalls();

// The recorded requests whose target starts with the prefix, oldest first.
std::vector<RecordedCall> CallsTo(const std::string& targetPrefix);

void PostFault(const std::string& faultJson);
void ResetService();  // keeps the scenario
void PostScenario(const std::string& scenarioJson);

}  // namespace ostrevane::testing
