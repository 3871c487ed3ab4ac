// Tells how this system's TLS stack treats a server's certificate: one line on stdout, for the
// tests of the test PKI and of wine-trust-ca.sh.
//
//   tls-probe winhttp URL
//       A WinHTTP GET: "winhttp status=N" or "winhttp error=N secureFlags=0x..." (the flags of
//       the secure-failure callback).
//   tls-probe schannel HOST PORT [manual] [v5]
//       A Schannel handshake over a Winsock socket, then an HTTP GET of "/" through it:
//       "schannel isc=0x... protocol=0x... chain=0x... policy=0x... http=N". isc is the last
//       status of InitializeSecurityContextW (checked by Schannel itself unless "manual"), chain
//       the error status of CertGetCertificateChain, policy the result of the SSL chain policy
//       for HOST. "v5" asks for credentials as SCH_CREDENTIALS instead of SCHANNEL_CRED.
//
// Exit code 0 when a status line came back, 1 otherwise, 2 for usage.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS  // for SCH_CREDENTIALS
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/crypt_handles.h"
#include "platform/winsock.h"

namespace ostrevane {
namespace {

constexpr DWORD kTimeoutMs = 5000;
constexpr int kMaxRounds = 64;

struct InternetTraits {
    using Pointer = HINTERNET;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetTraits>;

class Credentials {
public:
    Credentials(const Credentials&) = delete;
    Credentials& operator=(const Credentials&) = delete;
    Credentials(bool manual, bool v5) {
        const DWORD flags = SCH_CRED_NO_DEFAULT_CREDS | (manual ? SCH_CRED_MANUAL_CRED_VALIDATION
                                                                : SCH_CRED_AUTO_CRED_VALIDATION);
        SCHANNEL_CRED old{};
        old.dwVersion = SCHANNEL_CRED_VERSION;
        old.dwFlags = flags;
        SCH_CREDENTIALS current{};
        current.dwVersion = SCH_CREDENTIALS_VERSION;
        current.dwFlags = flags;
        status_ = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                            nullptr, v5 ? static_cast<void*>(&current) : &old, nullptr, nullptr,
                                            &handle_, nullptr);
    }
    ~Credentials() {
        if (status_ == SEC_E_OK) {
            FreeCredentialsHandle(&handle_);
        }
    }
    SECURITY_STATUS status() const { return status_; }
    CredHandle* get() { return &handle_; }

private:
    CredHandle handle_{};
    SECURITY_STATUS status_;
};

class Context {
public:
    Context() = default;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    ~Context() {
        if (valid) {
            DeleteSecurityContext(&handle);
        }
    }
    CtxtHandle handle{};
    bool valid = false;
};

bool SendAll(SOCKET s, const char* data, std::size_t size) {
    while (size > 0) {
        const int sent = send(s, data, static_cast<int>(size), 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool ReceiveSome(SOCKET s, std::vector<char>& into) {
    char chunk[16384];
    const int got = recv(s, chunk, sizeof(chunk), 0);
    if (got <= 0) {
        return false;
    }
    into.insert(into.end(), chunk, chunk + got);
    return true;
}

UniqueSocket Connect(const std::wstring& host, const std::wstring& port) {
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    if (GetAddrInfoW(host.c_str(), port.c_str(), &hints, &found) != 0) {
        return UniqueSocket();
    }
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const DWORD timeout = kTimeoutMs;
    if (s) {
        setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
        if (connect(s.get(), found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
            s.reset();
        }
    }
    FreeAddrInfoW(found);
    return s;
}

// Runs the client handshake; returns the last status. Bytes read past the handshake stay in `in`.
SECURITY_STATUS Handshake(SOCKET s, Credentials& cred, Context& ctx, std::wstring host, bool manual,
                          std::vector<char>& in) {
    const ULONG flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | (manual ? ISC_REQ_MANUAL_CRED_VALIDATION : 0);
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    for (int round = 0; round < kMaxRounds; ++round) {
        SecBuffer inBuffers[2] = {{static_cast<ULONG>(in.size()), SECBUFFER_TOKEN, in.data()},
                                  {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        ULONG attributes = 0;
        status = InitializeSecurityContextW(cred.get(), ctx.valid ? &ctx.handle : nullptr, host.data(), flags, 0, 0,
                                            ctx.valid ? &inDesc : nullptr, 0, &ctx.handle, &outDesc, &attributes,
                                            nullptr);
        ctx.valid = true;
        if (outBuffer.pvBuffer != nullptr) {
            const bool sent = SendAll(s, static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer);
            FreeContextBuffer(outBuffer.pvBuffer);
            if (!sent) {
                return status;
            }
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (!ReceiveSome(s, in)) {
                return status;
            }
            continue;
        }
        const bool extra = inBuffers[1].BufferType == SECBUFFER_EXTRA;
        in.erase(in.begin(), extra ? in.end() - inBuffers[1].cbBuffer : in.end());
        if (status == SEC_E_OK || status != SEC_I_CONTINUE_NEEDED) {
            return status;
        }
        if (!extra && !ReceiveSome(s, in)) {
            return status;
        }
    }
    return status;
}

// The policy check an application makes itself when it validates by hand.
void CheckChain(Context& ctx, const std::wstring& host, DWORD& chainStatus, DWORD& policyStatus) {
    PCCERT_CONTEXT raw = nullptr;
    if (QueryContextAttributesW(&ctx.handle, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw) != SEC_E_OK) {
        return;
    }
    UniqueCertContext cert(raw);
    LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
    UniqueCertChain chain;
    if (!CertGetCertificateChain(nullptr, cert.get(), nullptr, cert.get()->hCertStore, &para, 0, nullptr,
                                 chain.put())) {
        return;
    }
    chainStatus = chain.get()->TrustStatus.dwErrorStatus;
    std::wstring name = host;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra{};
    extra.cbSize = sizeof(extra);
    extra.dwAuthType = AUTHTYPE_SERVER;
    extra.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof(policy);
    policy.pvExtraPolicyPara = &extra;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof(result);
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &result)) {
        policyStatus = result.dwError;
    }
}

// GET / through the secured connection; the status code of the answer, or 0.
int HttpStatus(SOCKET s, Context& ctx, const std::wstring& host, std::vector<char>& in) {
    SecPkgContext_StreamSizes sizes{};
    if (QueryContextAttributesW(&ctx.handle, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK) {
        return 0;
    }
    std::string request = "GET / HTTP/1.1\r\nHost: ";
    for (wchar_t c : host) {
        request += static_cast<char>(c);
    }
    request += "\r\nConnection: close\r\n\r\n";
    std::vector<char> message(sizes.cbHeader + request.size() + sizes.cbTrailer);
    std::copy(request.begin(), request.end(), message.begin() + sizes.cbHeader);
    SecBuffer out[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, message.data()},
                        {static_cast<ULONG>(request.size()), SECBUFFER_DATA, message.data() + sizes.cbHeader},
                        {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, message.data() + sizes.cbHeader + request.size()},
                        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 4, out};
    if (EncryptMessage(&ctx.handle, 0, &outDesc, 0) != SEC_E_OK ||
        !SendAll(s, message.data(), out[0].cbBuffer + out[1].cbBuffer + out[2].cbBuffer)) {
        return 0;
    }
    std::string plain;
    for (int round = 0; round < kMaxRounds && plain.find("\r\n") == std::string::npos; ++round) {
        SecBuffer buffers[4] = {{static_cast<ULONG>(in.size()), SECBUFFER_DATA, in.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = in.empty() ? SEC_E_INCOMPLETE_MESSAGE : DecryptMessage(&ctx.handle, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (!ReceiveSome(s, in)) {
                break;
            }
            continue;
        }
        if (status != SEC_E_OK) {
            break;
        }
        std::vector<char> rest;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA) {
                plain.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            } else if (b.BufferType == SECBUFFER_EXTRA) {
                rest.assign(static_cast<const char*>(b.pvBuffer), static_cast<const char*>(b.pvBuffer) + b.cbBuffer);
            }
        }
        in = std::move(rest);
    }
    int code = 0;
    return sscanf(plain.c_str(), "HTTP/1.%*d %d", &code) == 1 ? code : 0;
}

int ProbeSchannel(const std::wstring& host, const std::wstring& port, bool manual, bool v5) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        return 1;
    }
    UniqueSocket s = Connect(host, port);
    if (!s) {
        wprintf(L"schannel connect=failed\n");
        return 1;
    }
    Credentials cred(manual, v5);
    if (cred.status() != SEC_E_OK) {
        wprintf(L"schannel credentials=0x%08lX\n", static_cast<unsigned long>(cred.status()));
        return 0;
    }
    Context ctx;
    std::vector<char> in;
    const SECURITY_STATUS isc = Handshake(s.get(), cred, ctx, host, manual, in);
    wprintf(L"schannel isc=0x%08lX", static_cast<unsigned long>(isc));
    if (isc == SEC_E_OK) {
        SecPkgContext_ConnectionInfo info{};
        QueryContextAttributesW(&ctx.handle, SECPKG_ATTR_CONNECTION_INFO, &info);
        DWORD chainStatus = 0xFFFFFFFF;
        DWORD policyStatus = 0xFFFFFFFF;
        CheckChain(ctx, host, chainStatus, policyStatus);
        wprintf(L" protocol=0x%08lX chain=0x%08lX policy=0x%08lX http=%d", info.dwProtocol, chainStatus, policyStatus,
                HttpStatus(s.get(), ctx, host, in));
    }
    wprintf(L"\n");
    return 0;
}

DWORD g_secureFlags = 0;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR, DWORD status, void* info, DWORD length) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && info != nullptr && length >= sizeof(DWORD)) {
        g_secureFlags = *static_cast<DWORD*>(info);
    }
}

int ProbeWinHttp(const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    wchar_t host[256] = L"";
    wchar_t path[1024] = L"";
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 1024;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        return 2;
    }
    UniqueInternet session(WinHttpOpen(L"Ostrevane-tls-probe", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    UniqueInternet connection(session ? WinHttpConnect(session.get(), host, parts.nPort, 0) : nullptr);
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    UniqueInternet request(connection ? WinHttpOpenRequest(connection.get(), L"GET", path[0] ? path : L"/", nullptr,
                                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure)
                                      : nullptr);
    if (!request) {
        wprintf(L"winhttp error=%lu\n", GetLastError());
        return 1;
    }
    WinHttpSetTimeouts(request.get(), kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
    WinHttpSetStatusCallback(request.get(), OnStatus, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        wprintf(L"winhttp error=%lu secureFlags=0x%08lX\n", GetLastError(), g_secureFlags);
        return 0;
    }
    DWORD code = 0;
    DWORD size = sizeof(code);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &code, &size, WINHTTP_NO_HEADER_INDEX);
    wprintf(L"winhttp status=%lu\n", code);
    return 0;
}

}  // namespace
}  // namespace ostrevane

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"winhttp" && argc == 3) {
        return ostrevane::ProbeWinHttp(argv[2]);
    }
    if (mode == L"schannel" && argc >= 4) {
        bool manual = false;
        bool v5 = false;
        for (int i = 4; i < argc; ++i) {
            manual = manual || std::wstring(argv[i]) == L"manual";
            v5 = v5 || std::wstring(argv[i]) == L"v5";
        }
        return ostrevane::ProbeSchannel(argv[2], argv[3], manual, v5);
    }
    fwprintf(stderr, L"usage: tls-probe winhttp URL | tls-probe schannel HOST PORT [manual] [v5]\n");
    return 2;
}
