#include "control/http_transport.h"

#include <windows.h>
#include <winhttp.h>
#include <shlwapi.h>

#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/cracked_url.h"
#include "platform/paths.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

struct InternetHandleTraits {
    using Pointer = HINTERNET;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { WinHttpCloseHandle(h); }
};
using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;

struct HttpExchange;

// The exchanges under way, so that a closing window can cancel them: WinHttpCloseHandle on a
// request from another thread makes the synchronous call blocked on it fail at once
// (ERROR_WINHTTP_OPERATION_CANCELLED) instead of running into its time-outs.
std::mutex exchangesMutex;
std::set<HttpExchange*> exchanges;  // guarded by exchangesMutex
bool requestsCancelled = false;     // guarded by exchangesMutex

bool RequestsCancelled() {
    std::lock_guard lock(exchangesMutex);
    return requestsCancelled;
}

// The three handles of one exchange; members close in reverse order, the request first. A
// request that CancelHttpRequests closed is not closed again.
struct HttpExchange {
    HttpExchange() = default;
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;
    ~HttpExchange() { Finish(); }

    // Once the handles are open: from now on a cancel may close the request. False when the
    // requests were cancelled already.
    bool Register() {
        std::lock_guard lock(exchangesMutex);
        if (requestsCancelled) {
            return false;
        }
        exchanges.insert(this);
        return true;
    }

    void Finish() noexcept {
        std::lock_guard lock(exchangesMutex);
        exchanges.erase(this);
        if (closedByCancel) {
            request.release();
        }
        request.reset();
        connection.reset();
        session.reset();
    }

    UniqueInternetHandle session;
    UniqueInternetHandle connection;
    UniqueInternetHandle request;
    bool closedByCancel = false;  // guarded by exchangesMutex
};

constexpr wchar_t kSinkRefused[] = L"sink";
constexpr wchar_t kCancelled[] = L"cancelled";

// Reads the body to its end, piece by piece into `sink` (false stops it). The failed step's name
// (or kSinkRefused) when the body could not be read whole; nullptr when it was.
template <typename Sink>
const wchar_t* ReadBody(HINTERNET request, Sink&& sink) {
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            return L"WinHttpQueryDataAvailable";
        }
        if (available == 0) {
            return nullptr;
        }
        std::vector<char> chunk(available, '\0');
        DWORD read = 0;
        if (!WinHttpReadData(request, chunk.data(), available, &read)) {
            return L"WinHttpReadData";
        }
        if (!sink(chunk.data(), read)) {
            return kSinkRefused;
        }
    }
}

// Opens session, connection and request; the failed step's name in `failedStep` when one fails.
bool OpenExchange(HttpExchange& exchange, const CrackedUrl& url, const wchar_t* method, const HttpTimeouts& timeouts,
                  const wchar_t** failedStep) {
    if (RequestsCancelled()) {  // before WinHttpOpen, which may look for a proxy first
        *failedStep = kCancelled;
        return false;
    }
    exchange.session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!exchange.session) {
        *failedStep = L"WinHttpOpen";
        return false;
    }
    WinHttpSetTimeouts(exchange.session.get(), timeouts.resolveMs, timeouts.connectMs, timeouts.sendMs,
                       timeouts.receiveMs);
    exchange.connection.reset(WinHttpConnect(exchange.session.get(), url.host.c_str(), url.port, 0));
    if (!exchange.connection) {
        *failedStep = L"WinHttpConnect";
        return false;
    }
    exchange.request.reset(WinHttpOpenRequest(exchange.connection.get(), method, url.path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              url.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!exchange.request) {
        *failedStep = L"WinHttpOpenRequest";
        return false;
    }
    // The wait for the answer's headers has its own limit, unlimited on some platforms: bound it too.
    DWORD receiveMs = static_cast<DWORD>(timeouts.receiveMs);
    WinHttpSetOption(exchange.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receiveMs, sizeof(receiveMs));
    if (!exchange.Register()) {
        *failedStep = kCancelled;
        return false;
    }
    return true;
}

std::uint32_t QueryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    return status;
}

// The announced body length, when the answer names one.
bool QueryContentLength(HINTERNET request, std::uint64_t& length) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    length = std::wcstoull(text, nullptr, 10);
    return true;
}

}  // namespace

void CancelHttpRequests() noexcept {
    std::lock_guard lock(exchangesMutex);
    requestsCancelled = true;
    for (HttpExchange* exchange : exchanges) {
        if (!exchange->closedByCancel && exchange->request) {
            WinHttpCloseHandle(exchange->request.get());
            exchange->closedByCancel = true;
        }
    }
}

void AllowHttpRequestsAgain() noexcept {
    std::lock_guard lock(exchangesMutex);
    requestsCancelled = false;
}

CrackedUrl CrackUrl(const std::wstring& url) {
    std::optional<CrackedUrl> cracked = CrackUrlComponents(url);
    if (!cracked) {
        ThrowWin32Error(L"WinHttpCrackUrl");
    }
    cracked->path += std::exchange(cracked->extra, {});
    if (cracked->path.empty()) {
        cracked->path = L"/";
    }
    return *std::move(cracked);
}

HttpResponse SendHttpRequest(const std::wstring& method, const std::wstring& url, const std::wstring& body,
                             const HttpTimeouts& timeouts) {
    const CrackedUrl cracked = CrackUrl(url);
    HttpExchange exchange;
    const wchar_t* failedStep = nullptr;
    if (!OpenExchange(exchange, cracked, method.c_str(), timeouts, &failedStep)) {
        if (failedStep == kCancelled) {
            throw std::runtime_error("HTTP request cancelled: the client is closing.");
        }
        ThrowWin32Error(failedStep);
    }
    std::string bytes = WideToUtf8(body);
    const wchar_t* headers = body.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS
                                          : L"Content-Type: application/json; charset=utf-8\r\n";
    const DWORD headersLength = body.empty() ? 0 : static_cast<DWORD>(-1);
    void* data = bytes.empty() ? WINHTTP_NO_REQUEST_DATA : bytes.data();
    const auto dataLength = static_cast<DWORD>(bytes.size());
    if (!WinHttpSendRequest(exchange.request.get(), headers, headersLength, data, dataLength, dataLength, 0) ||
        !WinHttpReceiveResponse(exchange.request.get(), nullptr)) {
        ThrowWin32Error(L"WinHttpReceiveResponse");
    }
    HttpResponse response;
    response.status = QueryStatus(exchange.request.get());
    std::string received;
    const wchar_t* failedRead = ReadBody(exchange.request.get(), [&](const char* piece, DWORD size) {
        received.append(piece, size);
        return true;
    });
    if (failedRead != nullptr) {
        ThrowWin32Error(failedRead);
    }
    response.body = Utf8ToWide(received);
    return response;
}

bool DownloadToFile(const std::wstring& url, const std::wstring& destination, const HttpTimeouts& timeouts) {
    const CrackedUrl cracked = CrackUrl(url);
    HttpExchange exchange;
    const wchar_t* failedStep = nullptr;
    if (!OpenExchange(exchange, cracked, L"GET", timeouts, &failedStep)) {
        return false;
    }
    const bool sent = WinHttpSendRequest(exchange.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                         WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                      WinHttpReceiveResponse(exchange.request.get(), nullptr);
    const std::uint32_t status = QueryStatus(exchange.request.get());
    if (!sent || status < 200 || status > 299) {
        return false;
    }
    CreateDirectoryTree(DirectoryPart(destination));
    const std::wstring temporary = destination + L".download";
    std::uint64_t announced = 0;
    const bool lengthKnown = QueryContentLength(exchange.request.get(), announced);
    {
        UniqueFileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return false;
        }
        std::uint64_t total = 0;
        const wchar_t* failedRead = ReadBody(exchange.request.get(), [&](const char* piece, DWORD size) {
            DWORD written = 0;
            total += size;
            return WriteFile(file.get(), piece, size, &written, nullptr) && written == size;
        });
        // A connection that ends before the announced length is a broken transfer, not the end.
        const bool complete = failedRead == nullptr && (!lengthKnown || total == announced);
        if (!complete) {
            file.reset();
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    exchange.Finish();
    // A file already at the destination is not this download: only the move itself succeeds.
    if (!MoveFileExW(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

ApiEnvelope PostJson(const std::wstring& baseUrl, const std::wstring& apiPath, const std::wstring& body) {
    const HttpResponse response = SendHttpRequest(L"POST", NormalizeServerUrl(baseUrl) + apiPath, body);
    return ParseApiEnvelope(response.body);
}

}  // namespace ostrevane
