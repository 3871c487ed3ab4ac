#include "support/reference_service.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "settings/text_utils.h"

namespace ostrevane::testing {

JsonValue ServiceData(const std::wstring& method, const std::wstring& path, const std::string& body) {
    try {
        return ServiceCall(WideToUtf8(method), WideToUtf8(path), body.empty() ? "{}" : body);
    } catch (const std::exception& error) {
        ADD_FAILURE() << WideToUtf8(method) << " " << WideToUtf8(path) << ": " << error.what();
        return {};
    }
}

Grant RequestGrant(const std::wstring& engineerId, const std::wstring& targetNetwork, const std::wstring& accessKey,
                   const std::wstring& deviceNumber) {
    const std::wstring body = L"{\"deviceNumber\":" + JsonQuote(deviceNumber) + L",\"deviceSecret\":" +
                              JsonQuote(accessKey) + L",\"targetNetwork\":" + JsonQuote(targetNetwork) +
                              L",\"engineerId\":" + JsonQuote(engineerId) + L",\"clientPublicKey\":\"\"}";
    const JsonValue data = ServiceData(L"POST", L"/api/connections/request", WideToUtf8(body));
    Grant grant;
    if (const auto* id = JsonFindAs<std::wstring>(data, L"connectionId")) {
        grant.connectionId = *id;
    }
    if (const auto* address = JsonFindAs<std::wstring>(data, L"assignedAddress")) {
        grant.assignedAddress = *address;
    }
    if (const auto* routes = JsonFindAs<JsonArray>(data, L"routes")) {
        for (const JsonValue& route : *routes) {
            if (const auto* text = std::get_if<std::wstring>(&route)) {
                grant.routes.push_back(*text);
            }
        }
    }
    return grant;
}

std::vector<RecordedCall> RecordedCalls() {
    std::vector<RecordedCall> calls;
    const JsonValue data = ServiceData(L"GET", L"/admin/requests");
    if (const auto* list = std::get_if<JsonArray>(&data)) {
        for (const JsonValue& entry : *list) {
            calls.push_back({JsonText(entry, L"method"), JsonText(entry, L"target"), JsonText(entry, L"body"),
                             JsonNumber(entry, L"time")});
        }
    }
    return calls;
}

std::vector<RecordedCall> CallsTo(const std::string& targetPrefix) {
    std::vector<RecordedCall> matching;
    for (RecordedCall& call : RecordedCalls()) {
        if (call.target.rfind(targetPrefix, 0) == 0) {
            matching.push_back(std::move(call));
        }
    }
    return matching;
}

void PostFault(const std::string& faultJson) { ServiceData(L"POST", L"/admin/fault", faultJson); }

void ResetService() { ServiceData(L"POST", L"/admin/reset", "{\"keepScenario\":true}"); }

void PostScenario(const std::string& scenarioJson) { ServiceData(L"POST", L"/admin/scenario", scenarioJson); }

}  // namespace ostrevane::testing
