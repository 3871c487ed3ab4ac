#include "tunnel/tls_channel.h"

#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS, which TLS 1.3 needs
#include <wincrypt.h>
#include <subauth.h>
#include <schannel.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/crypt_handles.h"
#include "settings/text_utils.h"
#include "tunnel/tls_verdict.h"

namespace ostrevane {
namespace {

constexpr DWORD kProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
constexpr int kMaxHandshakeSteps = 64;
constexpr std::uint8_t kAlertRecord = 21;  // the content type of a TLS record that carries an alert

// A token that InitializeSecurityContextW allocated.
class ContextBuffer {
public:
    ContextBuffer() = default;
    ContextBuffer(const ContextBuffer&) = delete;
    ContextBuffer& operator=(const ContextBuffer&) = delete;
    ~ContextBuffer() {
        if (buffer.pvBuffer != nullptr) {
            FreeContextBuffer(buffer.pvBuffer);
        }
    }
    const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(buffer.pvBuffer); }
    std::size_t size() const { return buffer.pvBuffer == nullptr ? 0 : buffer.cbBuffer; }

    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
};

}  // namespace

TlsChannel::TlsChannel(ByteStream& transport, std::wstring host)
    : transport_(transport), host_(std::move(host)), hostText_(WideToUtf8(host_)) {}

TlsChannel::~TlsChannel() {
    if (haveContext_) {
        DeleteSecurityContext(&context_);
    }
    if (haveCredentials_) {
        FreeCredentialsHandle(&credentials_);
    }
}

// TLS 1.2 and 1.3 through the newer credential record; a system that does not know it gets the
// older one, which offers TLS 1.2 only.
void TlsChannel::AcquireCredentials() {
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = ~kProtocols;
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = kCredentialFlags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                  &current, nullptr, nullptr, &credentials_, nullptr);
    if (status != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.dwFlags = kCredentialFlags;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                           nullptr, &older, nullptr, nullptr, &credentials_, nullptr);
    }
    if (status != SEC_E_OK) {
        throw std::runtime_error("TLS credentials could not be acquired, error " +
                                 HexCode(static_cast<std::uint32_t>(status)) + ".");
    }
    haveCredentials_ = true;
}

void TlsChannel::Handshake() {
    AcquireCredentials();
    std::optional<std::string> error = RunHandshake(true);
    if (!error) {
        error = CheckSession();
    }
    if (error) {
        throw std::runtime_error(*error);
    }
}

// Feeds InitializeSecurityContextW with what the server sent and writes what it answers, until
// the session is up. The first call has no input; later ones wait for more bytes only when
// nothing that was received is left over. After the handshake, pending bytes are records.
std::optional<std::string> TlsChannel::RunHandshake(bool first) {
    bool needMore = false;
    for (int step = 0; step < kMaxHandshakeSteps; ++step) {
        std::optional<std::string> error;
        if (needMore && !ReceiveMore(&error)) {
            return error;
        }
        const std::span<std::uint8_t> pending = incoming_.Pending();
        SecBuffer input[2] = {{static_cast<ULONG>(pending.size()), SECBUFFER_TOKEN, pending.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
        ContextBuffer token;
        SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token.buffer};
        const bool initial = first && step == 0;
        ULONG attributes = 0;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            &credentials_, initial ? nullptr : &context_, host_.data(), kContextFlags, 0, 0,
            initial ? nullptr : &inputDesc, 0, &context_, &tokenDesc, &attributes, nullptr);
        haveContext_ = haveContext_ || status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED;
        if (token.size() > 0 && !SendAll(transport_, token.data(), token.size())) {
            return "TLS handshake with " + hostText_ + " failed, connection error " +
                   std::to_string(transport_.sendError) + ".";
        }
        switch (status) {
            case SEC_E_INCOMPLETE_MESSAGE:
                needMore = true;
                break;
            case SEC_I_INCOMPLETE_CREDENTIALS:  // a request for a client certificate: go on without one
                needMore = false;
                break;
            case SEC_E_OK:
            case SEC_I_CONTINUE_NEEDED:
                incoming_.KeepLast(!initial && input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0);
                if (status == SEC_E_OK) {
                    return std::nullopt;
                }
                needMore = incoming_.Pending().empty();
                break;
            default:
                return HandshakeFailure(hostText_, status);
        }
    }
    return "TLS handshake with " + hostText_ + " did not finish.";
}

// Reads more of the handshake; false (with the error) when the connection ended or failed.
bool TlsChannel::ReceiveMore(std::optional<std::string>* error) {
    const std::span<std::uint8_t> space = incoming_.SpaceForReceive();
    const int received =
        space.empty() ? -1 : transport_.Receive(space.data(), static_cast<int>(std::min<std::size_t>(space.size(), INT_MAX)));
    if (received < 1) {
        const std::string failed = "TLS handshake with " + hostText_ + " failed";
        *error = space.empty()       ? failed + ": a handshake message is too large."
                 : received == 0     ? failed + ": the server closed the connection."
                                     : failed + ", connection error " + std::to_string(transport_.receiveError) + ".";
        return false;
    }
    incoming_.Received(static_cast<std::size_t>(received));
    return true;
}

// What the handshake agreed on, and who the server is.
std::optional<std::string> TlsChannel::CheckSession() {
    SecPkgContext_ConnectionInfo connection{};
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK ||
        (connection.dwProtocol & kProtocols) == 0) {
        return "TLS handshake with " + hostText_ + " agreed on a protocol older than TLS 1.2.";
    }
    if (std::optional<std::string> problem = CertificateProblem()) {
        return problem;
    }
    if (const SECURITY_STATUS status = QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        status != SEC_E_OK || sizes_.cbMaximumMessage == 0) {
        return HandshakeFailure(hostText_, status == SEC_E_OK ? SEC_E_INTERNAL_ERROR : status);
    }
    return std::nullopt;
}

// The chain is built for server authentication without revocation checks (as Schannel's own
// default), and any fault the chain reports refuses it, also where the SSL policy would pass it.
std::optional<std::string> TlsChannel::CertificateProblem() {
    PCCERT_CONTEXT received = nullptr;
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &received) != SEC_E_OK ||
        received == nullptr) {
        return "TLS server " + hostText_ + " sent no certificate.";
    }
    const UniqueCertContext certificate(received);
    LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
    UniqueCertChain chain;
    if (!CertGetCertificateChain(nullptr, certificate.get(), nullptr, certificate.get()->hCertStore, &chainPara, 0,
                                 nullptr, chain.put())) {
        return "TLS certificate of " + hostText_ + " could not be checked, error " + std::to_string(GetLastError()) +
               ".";
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = host_.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof(policyPara);
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS policy{};
    policy.cbSize = sizeof(policy);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara, &policy)) {
        return "TLS certificate of " + hostText_ + " could not be checked, error " + std::to_string(GetLastError()) +
               ".";
    }
    return CertificateRefusal(hostText_, chain.get()->TrustStatus.dwErrorStatus, policy.dwError);
}

int TlsChannel::Receive(std::uint8_t* buffer, int length) {
    while (!incoming_.HasPlain()) {
        const Decrypted outcome = incoming_.Pending().empty() ? Decrypted::kIncomplete : DecryptPending();
        if (outcome == Decrypted::kClosed) {
            receiveError = 0;
            return 0;
        }
        if (outcome == Decrypted::kFailed) {
            return -1;
        }
        if (outcome == Decrypted::kIncomplete) {
            const std::span<std::uint8_t> space = incoming_.SpaceForReceive();
            if (space.empty()) {
                receiveError = SEC_E_INVALID_TOKEN;  // no record is that large
                return -1;
            }
            const int received =
                transport_.Receive(space.data(), static_cast<int>(std::min<std::size_t>(space.size(), INT_MAX)));
            if (received < 1) {
                receiveError = transport_.receiveError;
                return received;
            }
            incoming_.Received(static_cast<std::size_t>(received));
        }
    }
    return static_cast<int>(incoming_.TakePlain(buffer, static_cast<std::size_t>(std::max(length, 0))));
}

// One record from the pending bytes. A record may decrypt to nothing (a TLS 1.3 session ticket,
// which also asks for the handshake to be run over it).
TlsChannel::Decrypted TlsChannel::DecryptPending() {
    const std::span<std::uint8_t> pending = incoming_.Pending();
    const bool alert = pending[0] == kAlertRecord;  // read now: the decryption works in place
    SecBuffer buffers[4] = {{static_cast<ULONG>(pending.size()), SECBUFFER_DATA, pending.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
        return Decrypted::kIncomplete;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
        receiveError = status;
        return Decrypted::kFailed;
    }
    std::size_t unused = 0;
    std::size_t plain = 0;
    for (const SecBuffer& buffer : buffers) {
        if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer != nullptr) {
            incoming_.AddPlain({static_cast<const std::uint8_t*>(buffer.pvBuffer), buffer.cbBuffer});
            plain += buffer.cbBuffer;
        } else if (buffer.BufferType == SECBUFFER_EXTRA) {
            unused = buffer.cbBuffer;
        }
    }
    incoming_.KeepLast(unused);
    // Schannel reports close_notify as an expired context; some implementations decrypt the
    // alert to nothing and say no more, so an alert record of TLS 1.2 ends the session as well
    // (in TLS 1.3 every record looks like application data from outside).
    if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alert && plain == 0)) {
        return incoming_.HasPlain() ? Decrypted::kRecord : Decrypted::kClosed;
    }
    if (status == SEC_I_RENEGOTIATE) {
        // Post-handshake messages, or a new handshake the server asked for: the writes wait, and
        // a certificate that came with it is checked like the first one.
        std::lock_guard lock(sendMutex_);
        std::optional<std::string> error = RunHandshake(false);
        if (!error) {
            error = CheckSession();
        }
        if (error) {
            receiveError = SEC_I_RENEGOTIATE;
            return Decrypted::kFailed;
        }
    }
    return Decrypted::kRecord;
}

int TlsChannel::Send(const std::uint8_t* data, int length) {
    std::lock_guard lock(sendMutex_);
    return SendLocked(data, static_cast<std::size_t>(std::max(length, 0)));
}

int TlsChannel::SendLocked(const std::uint8_t* data, std::size_t length) {
    if (shutDown_ || sizes_.cbMaximumMessage == 0) {
        sendError = SEC_E_CONTEXT_EXPIRED;
        return -1;
    }
    outgoing_.clear();
    for (std::size_t offset = 0; offset < length;) {
        const std::size_t piece = std::min<std::size_t>(length - offset, sizes_.cbMaximumMessage);
        const std::size_t start = outgoing_.size();
        outgoing_.resize(start + sizes_.cbHeader + piece + sizes_.cbTrailer);
        std::uint8_t* record = outgoing_.data() + start;
        std::memcpy(record + sizes_.cbHeader, data + offset, piece);
        SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record},
                                {static_cast<ULONG>(piece), SECBUFFER_DATA, record + sizes_.cbHeader},
                                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes_.cbHeader + piece},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (const SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0); status != SEC_E_OK) {
            sendError = status;
            return -1;
        }
        // The trailer may come out shorter than its room.
        outgoing_.resize(start + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        offset += piece;
    }
    if (!SendAll(transport_, outgoing_.data(), outgoing_.size())) {
        sendError = transport_.sendError;
        return -1;
    }
    return static_cast<int>(length);
}

std::vector<std::uint8_t> TlsChannel::TakeCloseNotify() noexcept {
    std::unique_lock lock(sendMutex_, std::try_to_lock);
    if (!lock.owns_lock() || shutDown_ || sizes_.cbMaximumMessage == 0) {
        return {};
    }
    shutDown_ = true;
    DWORD shutdown = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof(shutdown), SECBUFFER_TOKEN, &shutdown};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK) {
        return {};
    }
    ContextBuffer token;
    SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token.buffer};
    ULONG attributes = 0;
    InitializeSecurityContextW(&credentials_, &context_, host_.data(), kContextFlags, 0, 0, nullptr, 0, &context_,
                               &tokenDesc, &attributes, nullptr);
    try {
        return std::vector<std::uint8_t>(token.data(), token.data() + token.size());
    } catch (...) {
        return {};
    }
}

}  // namespace ostrevane
