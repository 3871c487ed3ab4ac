// What the client makes of the platform's answers about a TLS server: the English error for a
// certificate that is refused (from the chain's error status and the SSL policy's result) and
// for a handshake that failed. Pure: the Win32 calls that produce the numbers are in tls_channel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ostrevane {

// Nothing when both the chain (built for server authentication) and the SSL policy for `host`
// found no fault. Any chain error counts, also one the policy lets pass: a chain that ends at no
// root at all (a partial chain) is refused like an untrusted root.
std::optional<std::string> CertificateRefusal(const std::string& host, std::uint32_t chainErrorStatus,
                                              std::uint32_t policyError);

// A handshake that the platform ended with `status`. Where the platform checked the certificate
// itself, its verdict reads like ours.
std::string HandshakeFailure(const std::string& host, std::int32_t status);

// A status or error code as the platform's documentation writes it: "0x800B0101".
std::string HexCode(std::uint32_t code);

}  // namespace ostrevane
