#include "support/reference_service.h"

#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include "app/unique_handle.h"
#include "settings/json_parser.h"
#include "settings/text_utils.h"

namespace ostrevane::testing {
namespace {

struct InternetTraits {
    using Pointer = HINTERNET;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetTraits>;

}  // namespace

std::wstring ServiceUrl() {
    wchar_t value[256] = {};
    const DWORD length = GetEnvironmentVariableW(L"OSTREVANE_TEST_SERVICE_URL", value, 256);
    if (length == 0 || length >= 256) {
        ADD_FAILURE() << "OSTREVANE_TEST_SERVICE_URL is not set: run through tools/reference_service/run_with_service.sh";
        return L"http://127.0.0.1:9";
    }
    return std::wstring(value, length);
}

ServiceResponse ServiceRequest(const std::wstring& method, const std::wstring& path, const std::string& body) {
    const std::wstring url = ServiceUrl() + path;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    wchar_t host[256] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        return {};
    }
    UniqueInternet session(WinHttpOpen(L"ostrevane-tests", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    if (!session) {
        return {};
    }
    WinHttpSetTimeouts(session.get(), 5000, 5000, 30000, 30000);
    UniqueInternet connection(WinHttpConnect(session.get(), std::wstring(host, parts.dwHostNameLength).c_str(), parts.nPort, 0));
    UniqueInternet request(connection ? WinHttpOpenRequest(connection.get(), method.c_str(), path.c_str(), nullptr,
                                                           nullptr, nullptr, 0)
                                      : nullptr);
    if (!request) {
        return {};
    }
    const wchar_t* headers = body.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : L"Content-Type: application/json\r\n";
    if (!WinHttpSendRequest(request.get(), headers, body.empty() ? 0 : static_cast<DWORD>(-1),
                            body.empty() ? nullptr : const_cast<char*>(body.data()), static_cast<DWORD>(body.size()),
                            static_cast<DWORD>(body.size()), 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return {};
    }
    ServiceResponse response;
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &status, &size,
                        nullptr);
    response.status = status;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available) || available == 0) {
            break;
        }
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), chunk.data(), available, &read) || read == 0) {
            break;
        }
        response.body.append(chunk.data(), read);
    }
    return response;
}

JsonValue ServiceData(const std::wstring& method, const std::wstring& path, const std::string& body) {
    const ServiceResponse response = ServiceRequest(method, path, body);
    JsonValue root;
    try {
        root = ParseJsonDocument(Utf8ToWide(response.body));
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unreadable answer from " << WideToUtf8(path) << ": " << error.what() << "\n" << response.body;
        return {};
    }
    const bool* success = JsonFindAs<bool>(root, L"success");
    EXPECT_TRUE(success != nullptr && *success) << WideToUtf8(method) << " " << WideToUtf8(path) << " answered "
                                                << response.status << ": " << response.body;
    const JsonValue* data = JsonFind(root, L"data");
    return data != nullptr ? *data : JsonValue{};
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

void PostFault(const std::string& faultJson) { ServiceData(L"POST", L"/admin/fault", faultJson); }

void ResetService() { ServiceData(L"POST", L"/admin/reset", "{\"keepScenario\":true}"); }

void PostScenario(const std::string& scenarioJson) { ServiceData(L"POST", L"/admin/scenario", scenarioJson); }

}  // namespace ostrevane::testing
