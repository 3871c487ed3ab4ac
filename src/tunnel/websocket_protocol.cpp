#include "tunnel/websocket_protocol.h"

#include <algorithm>
#include <cctype>

namespace ostrevane::websocket {
namespace {

constexpr char kTerminator[] = "\r\n\r\n";

// Loops until `length` bytes arrived, asking for at most kMaxChunk bytes at a time.
bool ReceiveExactly(ByteSource& source, std::uint8_t* buffer, std::size_t length) {
    while (length > 0) {
        const int wanted = static_cast<int>(std::min<std::size_t>(length, kMaxChunk));
        const int received = source.Receive(buffer, wanted);
        if (received < 1) {
            return false;
        }
        const auto count = static_cast<std::size_t>(std::min(received, wanted));
        buffer += count;
        length -= count;
    }
    return true;
}

std::uint64_t ReadBigEndian(const std::uint8_t* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int count) {
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

}  // namespace

std::string BuildHandshakeRequest(const std::string& pathWithQuery, const std::string& host, std::uint16_t port) {
    std::string request = "GET ";
    request.append(pathWithQuery.empty() ? "/" : pathWithQuery);
    request.append(" HTTP/1.1\r\nHost: ");
    request.append(host);
    if (port != 80) {
        request.append(":").append(std::to_string(port));
    }
    request.append(
        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Sec-WebSocket-Version: 13\r\n\r\n");
    return request;
}

HandshakeResponse ReadHandshakeResponse(ByteSource& source) {
    HandshakeResponse response;
    for (;;) {
        if (response.text.size() >= 4 && response.text.ends_with(kTerminator)) {
            response.outcome = HandshakeResponse::Outcome::kComplete;
            return response;
        }
        if (response.text.size() > kMaxHandshakeResponse) {
            response.outcome = HandshakeResponse::Outcome::kTooLarge;
            return response;
        }
        std::uint8_t byte = 0;
        if (source.Receive(&byte, 1) < 1) {
            response.outcome = HandshakeResponse::Outcome::kReceiveFailed;
            return response;
        }
        response.text.push_back(static_cast<char>(byte));
    }
}

int ParseStatusCode(const std::string& response) {
    const std::size_t space = response.find(' ');
    if (space == std::string::npos || response.size() - space < 4) {
        return 0;
    }
    const std::string digits = response.substr(space + 1, 3);
    // Like strtol: leading blanks and one sign are accepted, the first non-digit ends the number.
    std::size_t i = 0;
    while (i < digits.size() && std::isspace(static_cast<unsigned char>(digits[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) {
        negative = digits[i] == '-';
        ++i;
    }
    int value = 0;
    for (; i < digits.size() && std::isdigit(static_cast<unsigned char>(digits[i])); ++i) {
        value = value * 10 + (digits[i] - '0');
    }
    return negative ? -value : value;
}

std::string FirstLine(const std::string& response) {
    const std::size_t end = response.find("\r\n");
    return end == std::string::npos ? response : response.substr(0, end);
}

std::uint32_t MaskingKey(std::uint32_t frameCounter, std::uint32_t tickCount) {
    return (frameCounter * 0x9E3779B9u) ^ tickCount;
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload,
                                      std::uint32_t maskingKey) {
    std::vector<std::uint8_t> frame;
    AppendFrame(frame, opcode, payload, maskingKey);
    return frame;
}

void AppendFrame(std::vector<std::uint8_t>& out, std::uint8_t opcode, std::span<const std::uint8_t> payload,
                 std::uint32_t maskingKey) {
    out.reserve(out.size() + payload.size() + 14);
    out.push_back(static_cast<std::uint8_t>(0x80 | opcode));
    if (payload.size() < 126) {
        out.push_back(static_cast<std::uint8_t>(0x80 | payload.size()));
    } else if (payload.size() <= 0xFFFF) {
        out.push_back(0xFE);
        AppendBigEndian(out, payload.size(), 2);
    } else {
        out.push_back(0xFF);
        AppendBigEndian(out, payload.size(), 8);
    }
    AppendBigEndian(out, maskingKey, 4);
    const std::uint8_t mask[4] = {static_cast<std::uint8_t>(maskingKey >> 24), static_cast<std::uint8_t>(maskingKey >> 16),
                                  static_cast<std::uint8_t>(maskingKey >> 8), static_cast<std::uint8_t>(maskingKey)};
    // Copied, then masked in place: growing the buffer with the copy spares a zero-fill.
    const std::size_t start = out.size();
    out.insert(out.end(), payload.begin(), payload.end());
    std::uint8_t* masked = out.data() + start;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        masked[i] = static_cast<std::uint8_t>(masked[i] ^ mask[i % 4]);
    }
}

int ReadAheadSource::Receive(std::uint8_t* buffer, int length) {
    if (begin_ == end_) {
        if (length >= kMaxChunk) {
            return inner_.Receive(buffer, length);
        }
        const int received = inner_.Receive(buffer_.data(), kMaxChunk);
        if (received < 1) {
            return received;
        }
        begin_ = 0;
        end_ = static_cast<std::size_t>(std::min(received, kMaxChunk));
    }
    const std::size_t count = std::min(static_cast<std::size_t>(std::max(length, 0)), end_ - begin_);
    std::copy_n(buffer_.data() + begin_, count, buffer);
    begin_ += count;
    return static_cast<int>(count);
}

FrameRead ReadFrame(ByteSource& source, Frame& frame, std::size_t messageSoFar) {
    std::uint8_t header[8];
    if (!ReceiveExactly(source, header, 2)) {
        return FrameRead::kReceiveFailed;
    }
    frame.fin = (header[0] & 0x80) != 0;
    frame.opcode = header[0] & 0x0F;
    const bool masked = (header[1] & 0x80) != 0;
    std::uint64_t length = header[1] & 0x7F;
    if (length == 126 || length == 127) {
        const int size = length == 126 ? 2 : 8;
        if (!ReceiveExactly(source, header, static_cast<std::size_t>(size))) {
            return FrameRead::kReceiveFailed;
        }
        length = ReadBigEndian(header, size);
    }
    // Fragments of one message must not add up past what one frame may carry either; control
    // frames in between are not part of the message.
    const bool data = frame.opcode == kBinary || frame.opcode == kContinuation;
    const std::size_t limit = data ? kMaxFramePayload - std::min(messageSoFar, kMaxFramePayload) : kMaxFramePayload;
    if (length > limit) {
        return FrameRead::kTooLarge;
    }
    std::uint8_t mask[4] = {};
    if (masked && !ReceiveExactly(source, mask, 4)) {
        return FrameRead::kReceiveFailed;
    }
    frame.payload.resize(static_cast<std::size_t>(length));
    if (!ReceiveExactly(source, frame.payload.data(), frame.payload.size())) {
        return FrameRead::kReceiveFailed;
    }
    if (masked) {
        for (std::size_t i = 0; i < frame.payload.size(); ++i) {
            frame.payload[i] ^= mask[i % 4];
        }
    }
    return FrameRead::kOk;
}

bool ReadMessage(ByteSource& source, const std::function<void(std::span<const std::uint8_t>)>& answerPing,
                 std::vector<std::uint8_t>& message) {
    message.clear();
    Frame frame;
    frame.payload.swap(message);  // the caller's buffer from the last message takes this one: no allocation
    for (;;) {
        if (ReadFrame(source, frame, message.size()) != FrameRead::kOk || frame.opcode == kClose) {
            message.clear();
            return false;
        }
        if (frame.opcode == kPing) {
            answerPing(frame.payload);
        } else if (frame.opcode == kBinary || frame.opcode == kContinuation) {
            if (message.empty()) {
                message.swap(frame.payload);  // the usual unfragmented packet needs no copy
            } else {
                message.insert(message.end(), frame.payload.begin(), frame.payload.end());
            }
            if (frame.fin) {
                return !message.empty();
            }
        }
        // Text, pong and reserved opcodes carry nothing for the tunnel and are skipped.
    }
}

}  // namespace ostrevane::websocket
