// What every fuzz target shares: a check that stops the run with a message (libFuzzer then
// keeps the input), the two readings of raw bytes as text, and a byte source that hands out
// the input in uneven pieces the way a socket does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

#include "settings/text_utils.h"
#include "tunnel/websocket_protocol.h"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace ostrevane::fuzz {

inline std::string Bytes(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The bytes as a file or a response body arrives: UTF-8, converted as the client converts it.
inline std::wstring TextAsUtf8(const std::uint8_t* data, std::size_t size) { return Utf8ToWide(Bytes(data, size)); }

// Each byte as one code unit, so that units 0x80 to 0xFF reach the readers unconverted.
inline std::wstring TextAsUnits(const std::uint8_t* data, std::size_t size) {
    return std::wstring(data, data + size);
}

// Serves the bytes in pieces whose sizes cycle through `pieces` (a socket delivers what it
// has, not what was asked for), then reports the end of the connection.
class ChunkedSource : public ByteSource {
public:
    ChunkedSource(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> pieces)
        : bytes_(bytes), pieces_(pieces) {}

    int Receive(std::uint8_t* buffer, int length) override {
        ++calls_;
        if (offset_ >= bytes_.size() || length < 1) {
            return 0;
        }
        std::size_t piece = pieces_.empty() ? bytes_.size() : std::size_t{pieces_[turn_++ % pieces_.size()]} + 1;
        piece = std::min({piece, static_cast<std::size_t>(length), bytes_.size() - offset_});
        std::copy_n(bytes_.data() + offset_, piece, buffer);
        offset_ += piece;
        return static_cast<int>(piece);
    }

    std::size_t consumed() const { return offset_; }
    std::size_t calls() const { return calls_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::span<const std::uint8_t> pieces_;
    std::size_t offset_ = 0;
    std::size_t turn_ = 0;
    std::size_t calls_ = 0;
};

// An input of the stream targets: its first `pieceBytes` bytes choose how the socket cuts the
// stream (ChunkedSource), the rest is the stream. Empty when the input is too short for that.
struct CutStream {
    std::span<const std::uint8_t> pieces;
    std::span<const std::uint8_t> stream;
};

inline std::optional<CutStream> SplitInput(const std::uint8_t* data, std::size_t size, std::size_t pieceBytes) {
    if (size < pieceBytes) {
        return std::nullopt;
    }
    return CutStream{{data, pieceBytes}, {data + pieceBytes, size - pieceBytes}};
}

}  // namespace ostrevane::fuzz
