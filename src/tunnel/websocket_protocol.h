// The relay's WebSocket wire format without any socket: the fixed upgrade request, the reading
// of the upgrade answer, and the encoding and reading of frames. Bytes come from a ByteSource,
// so everything here runs against scripted input as well as against a live connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace ostrevane {

// Where the readers take their bytes from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `length` bytes (at least 1 when it returns); a result below 1 means the
    // connection can no longer deliver (closed, failed or timed out).
    virtual int Receive(std::uint8_t* buffer, int length) = 0;
};

namespace websocket {

inline constexpr int kMaxChunk = 65536;  // largest single read or write

// Serves small reads out of one larger read of the inner source (at most kMaxChunk bytes), so
// that a stream of small frames costs one receive for many frames. Reads of kMaxChunk bytes or
// more go straight to the inner source once nothing is buffered.
class ReadAheadSource : public ByteSource {
public:
    explicit ReadAheadSource(ByteSource& inner) : inner_(inner), buffer_(kMaxChunk) {}
    int Receive(std::uint8_t* buffer, int length) override;
    std::size_t buffered() const { return end_ - begin_; }

private:
    ByteSource& inner_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

enum Opcode : std::uint8_t {
    kContinuation = 0x0,
    kText = 0x1,
    kBinary = 0x2,
    kClose = 0x8,
    kPing = 0x9,
    kPong = 0xA,
};

// Larger frames end the connection, and so does a fragmented message that grows larger.
inline constexpr std::size_t kMaxFramePayload = 4u * 1024 * 1024;
inline constexpr std::size_t kMaxHandshakeResponse = 16384;         // bytes held before giving up

// The whole upgrade request. The Host header names the port unless it is 80; the key is the fixed
// sample nonce of the protocol's own description, the same on every connection.
std::string BuildHandshakeRequest(const std::string& pathWithQuery, const std::string& host, std::uint16_t port);

struct HandshakeResponse {
    enum class Outcome { kComplete, kReceiveFailed, kTooLarge };
    Outcome outcome = Outcome::kReceiveFailed;
    std::string text;  // every byte read, the terminating empty line included when complete
};

// Reads one byte at a time until the header ends with an empty line, so that frame bytes sent
// right behind the header stay in the source. More than 16384 bytes without one is too large.
HandshakeResponse ReadHandshakeResponse(ByteSource& source);

// The decimal number after the first space of the status line; 0 when there is none.
int ParseStatusCode(const std::string& response);

// The text before the first CR LF, or all of it.
std::string FirstLine(const std::string& response);

// (counter x 0x9E3779B9 mod 2^32) XOR the tick count: the masking key of the counter-th frame.
std::uint32_t MaskingKey(std::uint32_t frameCounter, std::uint32_t tickCount);

// A final, masked frame: the header, the key big-endian, the payload XOR-ed with the key.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload,
                                      std::uint32_t maskingKey);
// The same frame appended to `out`, so that several frames can share one write.
void AppendFrame(std::vector<std::uint8_t>& out, std::uint8_t opcode, std::span<const std::uint8_t> payload,
                 std::uint32_t maskingKey);

struct Frame {
    bool fin = false;
    std::uint8_t opcode = 0;
    std::vector<std::uint8_t> payload;  // unmasked
};

enum class FrameRead { kOk, kReceiveFailed, kTooLarge };

// Reads one frame; a length above 4 MiB is refused before any payload byte is read, and so is a
// binary or continuation frame that would take the message it continues (messageSoFar bytes
// already joined) past 4 MiB.
FrameRead ReadFrame(ByteSource& source, Frame& frame, std::size_t messageSoFar = 0);

// Reads frames until one binary message is whole: binary and continuation payloads are joined,
// pings are handed to answerPing (their payload, for the pong), text, pong and reserved opcodes
// are skipped. False on a close frame, a failed read, a frame above 4 MiB, fragments that add
// up to more than 4 MiB, or an empty message.
bool ReadMessage(ByteSource& source, const std::function<void(std::span<const std::uint8_t>)>& answerPing,
                 std::vector<std::uint8_t>& message);

}  // namespace websocket
}  // namespace ostrevane
