// The synchronous HTTP layer of the control-plane client over WinHTTP: one session, connection
// and request per call, no reuse, no retry. JSON goes out as UTF-8; bodies come back as text.
#pragma once

#include <cstdint>
#include <string>

#include "control/api_envelope.h"
#include "platform/cracked_url.h"

namespace ostrevane {

inline constexpr wchar_t kUserAgent[] = L"Ostrevane.Native/0.2";

struct HttpResponse {
    std::uint32_t status = 0;  // 0 when it could not be read
    std::wstring body;
};

struct HttpTimeouts {
    int resolveMs = 10000;
    int connectMs = 10000;
    int sendMs = 15000;
    int receiveMs = 30000;
};
inline constexpr HttpTimeouts kApiTimeouts{};
inline constexpr HttpTimeouts kDownloadTimeouts{10000, 10000, 15000, 120000};

// The path with the query; "/" when the URL has neither.
// Throws the transport error "WinHttpCrackUrl: ..." when WinHTTP cannot split the URL.
CrackedUrl CrackUrl(const std::wstring& url);

// One request; the body (may be empty) is sent as UTF-8 JSON. Every failure of the request
// machinery throws the transport error named after the failed step.
HttpResponse SendHttpRequest(const std::wstring& method, const std::wstring& url, const std::wstring& body,
                             const HttpTimeouts& timeouts = kApiTimeouts);

// GET into the destination through "<destination>.download"; true only when the completed
// transfer was moved into place. Never leaves a partial destination. Throws only when the URL cannot be cracked.
bool DownloadToFile(const std::wstring& url, const std::wstring& destination,
                    const HttpTimeouts& timeouts = kDownloadTimeouts);

// For a client that is closing: every request under way fails at once and every later one
// throws "HTTP request cancelled: the client is closing." before it reaches the network.
// Callable from any thread.
void CancelHttpRequests() noexcept;
void AllowHttpRequestsAgain() noexcept;  // undoes it, once nothing waits on a cancelled request

// POST of a JSON body to the normalised base URL followed by the API path; the answer's envelope.
ApiEnvelope PostJson(const std::wstring& baseUrl, const std::wstring& apiPath, const std::wstring& body);

}  // namespace ostrevane
