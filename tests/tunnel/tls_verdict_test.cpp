// The errors for refused certificates and failed handshakes, from the numbers that the chain,
// the SSL policy and Schannel give.
#include "tunnel/tls_verdict.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

namespace ostrevane {
namespace {

constexpr char kUntrusted[] = "TLS certificate of relay.example is not issued by a trusted certification authority.";
constexpr char kTime[] = "TLS certificate of relay.example has expired or is not valid yet.";
constexpr char kHost[] = "TLS certificate of relay.example is issued for another host name.";

std::string Refusal(std::uint32_t chain, std::uint32_t policy) {
    return CertificateRefusal("relay.example", chain, policy).value_or("accepted");
}

std::uint32_t Code(HRESULT code) { return static_cast<std::uint32_t>(code); }

TEST(CertificateRefusal, AcceptsOnlyWhenChainAndPolicyFoundNothing) {
    EXPECT_EQ(Refusal(0, 0), "accepted");
    EXPECT_EQ(Refusal(0, Code(CERT_E_CN_NO_MATCH)), kHost);
    EXPECT_EQ(Refusal(CERT_TRUST_IS_NOT_TIME_VALID, Code(CERT_E_EXPIRED)), kTime);
    EXPECT_EQ(Refusal(CERT_TRUST_IS_UNTRUSTED_ROOT, Code(CERT_E_UNTRUSTEDROOT)), kUntrusted);
    EXPECT_EQ(Refusal(0, Code(CERT_E_CHAINING)), kUntrusted);
    EXPECT_EQ(Refusal(CERT_TRUST_IS_NOT_VALID_FOR_USAGE, Code(CERT_E_WRONG_USAGE)),
              "TLS certificate of relay.example is not meant for a TLS server.");
    EXPECT_EQ(Refusal(CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_NOT_TIME_VALID, 0),
              "TLS certificate of relay.example has been revoked.");
}

TEST(CertificateRefusal, RefusesAChainFaultThatThePolicyLetPass) {
    // A chain that ends at no root: some SSL policies answer 0 for it.
    EXPECT_EQ(Refusal(CERT_TRUST_IS_PARTIAL_CHAIN, 0), kUntrusted);
    EXPECT_EQ(Refusal(CERT_TRUST_IS_NOT_SIGNATURE_VALID, 0),
              "TLS certificate of relay.example was refused, chain error status 0x00000008.");
    EXPECT_EQ(Refusal(0, Code(TRUST_E_CERT_SIGNATURE)),
              "TLS certificate of relay.example was refused, policy error 0x80096004.");
}

TEST(HandshakeFailure, ReadsLikeOurOwnVerdictWhereSchannelCheckedTheCertificate) {
    EXPECT_EQ(HandshakeFailure("relay.example", SEC_E_UNTRUSTED_ROOT), kUntrusted);
    EXPECT_EQ(HandshakeFailure("relay.example", SEC_E_CERT_EXPIRED), kTime);
    EXPECT_EQ(HandshakeFailure("relay.example", SEC_E_WRONG_PRINCIPAL), kHost);
    EXPECT_EQ(HandshakeFailure("relay.example", SEC_E_ILLEGAL_MESSAGE),
              "TLS handshake with relay.example failed, error 0x80090326.");
}

}  // namespace
}  // namespace ostrevane
