// The test's own line to the reference service that run_with_service.sh started: where it
// listens, plain HTTP/1.1 calls over a fresh loopback connection each, the envelope's data,
// and the base64 that its admin interface speaks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "settings/json_value.h"

namespace ostrevane::testing {

// OSTREVANE_TEST_SERVICE_URL and OSTREVANE_TEST_SERVICE_PORT; empty and 0 when not set. In TLS
// mode the URL names the service as https://localhost:PORT, the name its certificate holds.
std::wstring ServiceUrl();
std::uint16_t ServicePort();
bool ServiceUsesTls();
// OSTREVANE_TEST_TLS_REFUSAL: the test certificate the TLS service runs with when it must be
// refused ("wrong-host", "expired", "untrusted", "untrusted-leaf"); empty otherwise.
std::string CertificateToRefuse();
// The size of the service's request log file (OSTREVANE_TEST_REQUEST_LOG), which every request
// that reaches its HTTP layer enters; a missing log fails the test.
std::uintmax_t RequestLogSize();

struct HttpReply {
    int status = 0;
    std::string head;  // status line and headers
    std::string body;
};

// One request with "Connection: close", read to the end (10 s time-outs), over TLS in TLS mode.
// Throws std::runtime_error when the service cannot be reached.
HttpReply HttpRequest(const std::string& method, const std::string& target, const std::string& jsonBody = "");

// The envelope's `data` of a successful call; throws std::runtime_error with the envelope's
// code and message otherwise.
JsonValue ServiceCall(const std::string& method, const std::string& target, const std::string& jsonBody = "{}");

std::string Base64Encode(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> Base64Decode(const std::wstring& text);  // throws on a character outside the alphabet

// Narrow helpers for reading answers: a string member in UTF-8 ("" when absent), a number member
// (-1 when absent).
std::string JsonText(const JsonValue& value, const std::wstring& key);
double JsonNumber(const JsonValue& value, const std::wstring& key);

}  // namespace ostrevane::testing
