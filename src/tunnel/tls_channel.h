// A TLS client session over another byte stream (the relay's TCP socket), with the platform's
// Schannel through SSPI: the handshake with the host name for SNI, our own check of the server's
// certificate, records encrypted and decrypted in both directions, and close_notify at the end.
//
// The certificate is checked by hand (manual validation, then the chain for server
// authentication and the SSL policy for the host name) rather than left to Schannel: the result
// is the same wherever Schannel's own checks differ, and the error says which check failed.
#pragma once

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <windows.h>
#include <security.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tunnel/byte_stream.h"
#include "tunnel/tls_record_buffer.h"

namespace ostrevane {

class TlsChannel : public ByteStream {
public:
    // `transport` carries the records and outlives the channel; `host` is the server's name as
    // the URL gives it.
    TlsChannel(ByteStream& transport, std::wstring host);
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;
    ~TlsChannel() override;

    // Runs the handshake and checks the server: TLS 1.2 or newer, a certificate that chains to a
    // trusted root for server authentication, is valid now and names the host. Throws
    // std::runtime_error with the reason; nothing but the handshake has been sent then.
    void Handshake();

    // Decrypted bytes; 0 once the server ended the session with close_notify. One thread at a time.
    int Receive(std::uint8_t* buffer, int length) override;
    // Encrypts all `length` bytes (as records of the largest size) and writes them in one go;
    // returns `length`, or -1. Any thread; writes never interleave.
    int Send(const std::uint8_t* data, int length) override;

    // The close_notify alert that ends the session, for the caller to write (the session takes
    // no more data afterwards). Empty when it was made before, when a write is under way (the
    // connection is then being torn down anyway) or when the session never came up. Never blocks.
    std::vector<std::uint8_t> TakeCloseNotify() noexcept;

private:
    enum class Decrypted { kRecord, kIncomplete, kClosed, kFailed };

    void AcquireCredentials();
    std::optional<std::string> RunHandshake(bool first);
    std::optional<std::string> CheckSession();
    std::optional<std::string> CertificateProblem();
    bool ReceiveMore(std::optional<std::string>* error);
    Decrypted DecryptPending();
    int SendLocked(const std::uint8_t* data, std::size_t length);

    ByteStream& transport_;
    std::wstring host_;
    const std::string hostText_;        // the host in UTF-8, for errors
    CredHandle credentials_{};
    bool haveCredentials_ = false;
    CtxtHandle context_{};
    bool haveContext_ = false;
    SecPkgContext_StreamSizes sizes_{};
    TlsRecordBuffer incoming_;          // the receiving thread's (the handshake's before that)
    std::mutex sendMutex_;              // guards outgoing_, shutDown_ and every write to transport_
    std::vector<std::uint8_t> outgoing_;
    bool shutDown_ = false;             // close_notify was made: nothing is encrypted any more
};

}  // namespace ostrevane
