// The test side of the reference service started around *_service_test executables: its address
// from the environment, plain HTTP calls to it, and the shortcuts tests need (a grant, faults,
// scenarios, the recorded requests and the relay state).
#pragma once

#include <string>
#include <vector>

#include "settings/json_value.h"

namespace ostrevane::testing {

inline constexpr wchar_t kDemoAccessKey[] = L"OVK-DEMO-7F3A-2C91-5E08";
inline constexpr wchar_t kDemoDeviceNumber[] = L"SITE-0001";

// OSTREVANE_TEST_SERVICE_URL, e.g. "http://127.0.0.1:40123"; fails the test when unset.
std::wstring ServiceUrl();

struct ServiceResponse {
    unsigned status = 0;
    std::string body;  // UTF-8
};

// One request with a UTF-8 body (JSON when not empty); status 0 when the service cannot be reached.
ServiceResponse ServiceRequest(const std::wstring& method, const std::wstring& path, const std::string& body = {});

// The "data" member of an admin or API call's envelope; fails the test when success is not true.
JsonValue ServiceData(const std::wstring& method, const std::wstring& path, const std::string& body = {});

struct Grant {
    std::wstring connectionId;
    std::wstring assignedAddress;
    std::vector<std::wstring> routes;
};

Grant RequestGrant(const std::wstring& engineerId, const std::wstring& targetNetwork = L"ALL",
                   const std::wstring& accessKey = kDemoAccessKey, const std::wstring& deviceNumber = kDemoDeviceNumber);

void PostFault(const std::string& faultJson);
void ResetService();  // keeps the scenario
void PostScenario(const std::string& scenarioJson);

}  // namespace ostrevane::testing
