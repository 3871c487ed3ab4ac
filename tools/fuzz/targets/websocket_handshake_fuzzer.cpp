// The relay's answer to the upgrade request, whatever it is: the reader stops at the first empty
// line (leaving what follows for the frame reader), at 16385 bytes without one, or at the end of
// the connection; the status code and the first line come out of any text.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"

namespace {

using namespace ostrevane;

constexpr std::size_t kPieceBytes = 2;  // the first bytes choose how the socket cuts the stream

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::SplitInput(data, size, kPieceBytes);
    if (!input) {
        return 0;
    }
    const auto [pieces, stream] = *input;
    fuzz::ChunkedSource source(stream, pieces);
    const websocket::HandshakeResponse response = websocket::ReadHandshakeResponse(source);

    const std::string& text = response.text;
    FUZZ_CHECK(text.size() == source.consumed());  // one byte per read: nothing beyond the header is taken
    FUZZ_CHECK(text.size() <= websocket::kMaxHandshakeResponse + 1);
    FUZZ_CHECK(std::equal(text.begin(), text.end(), reinterpret_cast<const char*>(stream.data())));
    const std::size_t terminator = text.find("\r\n\r\n");
    switch (response.outcome) {
        case websocket::HandshakeResponse::Outcome::kComplete:
            FUZZ_CHECK(terminator != std::string::npos && terminator + 4 == text.size());
            break;
        case websocket::HandshakeResponse::Outcome::kTooLarge:
            FUZZ_CHECK(terminator == std::string::npos && text.size() == websocket::kMaxHandshakeResponse + 1);
            break;
        case websocket::HandshakeResponse::Outcome::kReceiveFailed:
            FUZZ_CHECK(terminator == std::string::npos && text.size() == stream.size());
            break;
    }

    const int status = websocket::ParseStatusCode(text);
    FUZZ_CHECK(status >= -99 && status <= 999);
    const std::string line = websocket::FirstLine(text);
    FUZZ_CHECK(text.starts_with(line) && line.find("\r\n") == std::string::npos);
    // The status line as a whole text of its own, too: the reader never assumes a terminator.
    (void)websocket::ParseStatusCode(fuzz::Bytes(stream.data(), stream.size()));
    return 0;
}
