#include "tunnel/tls_verdict.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

namespace ostrevane {
namespace {

enum class Fault { kUntrusted, kTime, kHost, kRevoked, kUsage };

std::string Describe(const std::string& host, Fault fault) {
    const std::string subject = "TLS certificate of " + host;
    switch (fault) {
        case Fault::kUntrusted:
            return subject + " is not issued by a trusted certification authority.";
        case Fault::kTime:
            return subject + " has expired or is not valid yet.";
        case Fault::kHost:
            return subject + " is issued for another host name.";
        case Fault::kRevoked:
            return subject + " has been revoked.";
        case Fault::kUsage:
            return subject + " is not meant for a TLS server.";
    }
    return subject + " was refused.";
}

std::optional<Fault> ChainFault(std::uint32_t status) {
    if (status & CERT_TRUST_IS_REVOKED) {
        return Fault::kRevoked;
    }
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        return Fault::kUntrusted;
    }
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) {
        return Fault::kTime;
    }
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) {
        return Fault::kUsage;
    }
    return std::nullopt;
}

std::optional<Fault> PolicyFault(std::uint32_t error) {
    switch (static_cast<HRESULT>(error)) {
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_CHAINING:
        case CERT_E_UNTRUSTEDCA:
            return Fault::kUntrusted;
        case CERT_E_EXPIRED:
            return Fault::kTime;
        case CERT_E_CN_NO_MATCH:
            return Fault::kHost;
        case CERT_E_REVOKED:
            return Fault::kRevoked;
        case CERT_E_WRONG_USAGE:
            return Fault::kUsage;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> CertificateRefusal(const std::string& host, std::uint32_t chainErrorStatus,
                                              std::uint32_t policyError) {
    if (chainErrorStatus != 0) {
        const std::optional<Fault> fault = ChainFault(chainErrorStatus);
        return fault ? Describe(host, *fault)
                     : "TLS certificate of " + host + " was refused, chain error status " + HexCode(chainErrorStatus) + ".";
    }
    if (policyError != 0) {
        const std::optional<Fault> fault = PolicyFault(policyError);
        return fault ? Describe(host, *fault)
                     : "TLS certificate of " + host + " was refused, policy error " + HexCode(policyError) + ".";
    }
    return std::nullopt;
}

std::string HandshakeFailure(const std::string& host, std::int32_t status) {
    switch (status) {
        case SEC_E_UNTRUSTED_ROOT:
            return Describe(host, Fault::kUntrusted);
        case SEC_E_CERT_EXPIRED:
            return Describe(host, Fault::kTime);
        case SEC_E_WRONG_PRINCIPAL:
            return Describe(host, Fault::kHost);
        default:
            return "TLS handshake with " + host + " failed, error " + HexCode(static_cast<std::uint32_t>(status)) + ".";
    }
}

std::string HexCode(std::uint32_t code) {
    char text[11];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(code));
    return text;
}

}  // namespace ostrevane
