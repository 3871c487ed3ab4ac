// Frames from a hostile relay, through the read-ahead buffer the relay connection uses: messages
// come out whole and non-empty and never above 4 MiB, pings are handed over with their payload,
// and every ping's pong, encoded as the client sends it, reads back as the same payload.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_support.h"

namespace {

using namespace ostrevane;

constexpr std::size_t kPieceBytes = 3;  // how the socket cuts the stream
constexpr int kMaxMessages = 64;

void CheckPongRoundTrip(std::span<const std::uint8_t> payload, std::uint32_t key) {
    const std::vector<std::uint8_t> pong = websocket::EncodeFrame(websocket::kPong, payload, key);
    fuzz::ChunkedSource source(pong, {});
    websocket::Frame frame;
    FUZZ_CHECK(websocket::ReadFrame(source, frame) == websocket::FrameRead::kOk);
    FUZZ_CHECK(frame.fin && frame.opcode == websocket::kPong);
    FUZZ_CHECK(std::equal(frame.payload.begin(), frame.payload.end(), payload.begin(), payload.end()));
    FUZZ_CHECK(source.consumed() == pong.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::SplitInput(data, size, kPieceBytes);
    if (!input) {
        return 0;
    }
    const auto [pieces, stream] = *input;
    fuzz::ChunkedSource socket(stream, pieces);
    websocket::ReadAheadSource frames(socket);

    std::uint32_t pings = 0;
    const auto answerPing = [&](std::span<const std::uint8_t> payload) {
        FUZZ_CHECK(payload.size() <= websocket::kMaxFramePayload);
        CheckPongRoundTrip(payload, ++pings * 0x9E3779B9u);
    };
    std::vector<std::uint8_t> message;
    for (int i = 0; i < kMaxMessages; ++i) {
        if (!websocket::ReadMessage(frames, answerPing, message)) {
            FUZZ_CHECK(message.empty());
            break;
        }
        FUZZ_CHECK(!message.empty() && message.size() <= websocket::kMaxFramePayload);
    }
    FUZZ_CHECK(socket.consumed() <= stream.size());

    // The same bytes read frame by frame, straight from the cut stream.
    fuzz::ChunkedSource again(stream, pieces);
    websocket::Frame frame;
    for (int i = 0; i < kMaxMessages && websocket::ReadFrame(again, frame) == websocket::FrameRead::kOk; ++i) {
        FUZZ_CHECK(frame.opcode <= 0x0F && frame.payload.size() <= websocket::kMaxFramePayload);
    }
    return 0;
}
