#include "tunnel/websocket_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace ostrevane::websocket {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hands out scripted bytes, at most `perCall` at a time, and remembers what was asked for.
class ScriptedSource : public ByteSource {
public:
    explicit ScriptedSource(Bytes bytes, int perCall = 1 << 30) : bytes_(std::move(bytes)), perCall_(perCall) {}

    int Receive(std::uint8_t* buffer, int length) override {
        requests.push_back(length);
        const std::size_t count =
            std::min({static_cast<std::size_t>(length), bytes_.size() - consumed, static_cast<std::size_t>(perCall_)});
        if (count == 0) {
            return 0;  // the connection ended
        }
        std::memcpy(buffer, bytes_.data() + consumed, count);
        consumed += count;
        return static_cast<int>(count);
    }

    std::size_t consumed = 0;
    std::vector<int> requests;

private:
    Bytes bytes_;
    int perCall_;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Pattern(std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return bytes;
}

// An unmasked frame as the service sends it, written out by hand for the short forms.
Bytes WireFrame(std::uint8_t first, const Bytes& payload) {
    Bytes frame{first};
    if (payload.size() < 126) {
        frame.push_back(static_cast<std::uint8_t>(payload.size()));
    } else if (payload.size() <= 0xFFFF) {
        frame.insert(frame.end(), {126, static_cast<std::uint8_t>(payload.size() >> 8),
                                   static_cast<std::uint8_t>(payload.size())});
    } else {
        frame.push_back(127);
        for (int shift = 56; shift >= 0; shift -= 8) {
            frame.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(payload.size()) >> shift));
        }
    }
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

// --- The upgrade request -------------------------------------------------------------------------

TEST(HandshakeRequest, IsTheFixedTextWithoutPortForPort80) {
    EXPECT_EQ(BuildHandshakeRequest("/api/relay/client/c%201?engineerId=ENG-1", "relay.example", 80),
              "GET /api/relay/client/c%201?engineerId=ENG-1 HTTP/1.1\r\n"
              "Host: relay.example\r\n"
              "Upgrade: websocket\r\n"
              "Connection: Upgrade\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
              "Sec-WebSocket-Version: 13\r\n"
              "\r\n");
}

TEST(HandshakeRequest, NamesEveryOtherPortInTheHostHeader) {
    const std::string request = BuildHandshakeRequest("/x", "10.0.0.5", 8080);
    EXPECT_TRUE(request.starts_with("GET /x HTTP/1.1\r\nHost: 10.0.0.5:8080\r\nUpgrade: websocket\r\n")) << request;
    EXPECT_NE(BuildHandshakeRequest("/x", "h", 443).find("\r\nHost: h:443\r\n"), std::string::npos);
}

TEST(HandshakeRequest, AsksForTheRootWhenThePathIsEmpty) {
    EXPECT_TRUE(BuildHandshakeRequest("", "h", 80).starts_with("GET / HTTP/1.1\r\n"));
}

// --- The upgrade answer --------------------------------------------------------------------------

TEST(HandshakeResponse, StopsRightAfterTheEmptyLineAndLeavesTheRestInTheSource) {
    const std::string header = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n";
    ScriptedSource source(Concat({Text(header), WireFrame(0x82, {1, 2, 3})}));
    const HandshakeResponse response = ReadHandshakeResponse(source);
    EXPECT_EQ(response.outcome, HandshakeResponse::Outcome::kComplete);
    EXPECT_EQ(response.text, header);
    EXPECT_EQ(source.consumed, header.size());
    EXPECT_TRUE(std::all_of(source.requests.begin(), source.requests.end(), [](int n) { return n == 1; }))
        << "the answer is read one byte at a time";
}

TEST(HandshakeResponse, AcceptsAnAnswerOfExactly16384Bytes) {
    std::string header = "HTTP/1.1 101 OK\r\nX: ";
    header += std::string(16384 - header.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(header.size(), 16384u);
    ScriptedSource source(Text(header));
    EXPECT_EQ(ReadHandshakeResponse(source).outcome, HandshakeResponse::Outcome::kComplete);
}

TEST(HandshakeResponse, GivesUpAfter16385BytesWithoutAnEmptyLine) {
    ScriptedSource source(Text("HTTP/1.1 101 OK\r\n" + std::string(30000, 'a')));
    const HandshakeResponse response = ReadHandshakeResponse(source);
    EXPECT_EQ(response.outcome, HandshakeResponse::Outcome::kTooLarge);
    EXPECT_EQ(source.consumed, 16385u);
}

TEST(HandshakeResponse, ReportsAConnectionThatEndsBeforeTheEmptyLine) {
    ScriptedSource source(Text("HTTP/1.1 101 OK\r\nUpgrade: websocket\r\n"));
    const HandshakeResponse response = ReadHandshakeResponse(source);
    EXPECT_EQ(response.outcome, HandshakeResponse::Outcome::kReceiveFailed);
    EXPECT_EQ(response.text, "HTTP/1.1 101 OK\r\nUpgrade: websocket\r\n");
}

TEST(StatusCode, IsTheNumberAfterTheFirstSpace) {
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 101 Switching Protocols\r\n\r\n"), 101);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 403 Forbidden\r\n\r\n"), 403);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 101"), 101) << "four characters from the space are enough";
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 1012"), 101) << "only three characters count";
}

TEST(StatusCode, FollowsTheLenientDecimalConversion) {
    EXPECT_EQ(ParseStatusCode("HTTP/1.1  42x\r\n"), 42) << "a leading blank is skipped";
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 +12\r\n"), 12);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 -12\r\n"), -12);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 2x1\r\n"), 2) << "the first non-digit ends the number";
}

TEST(StatusCode, IsZeroWithoutASpaceANumberOrEnoughText) {
    EXPECT_EQ(ParseStatusCode("HTTP/1.1\r\n\r\n"), 0);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 10"), 0);
    EXPECT_EQ(ParseStatusCode("HTTP/1.1 OK!\r\n"), 0);
    EXPECT_EQ(ParseStatusCode(""), 0);
}

TEST(FirstLine, IsTheTextBeforeTheFirstLineBreakOrAllOfIt) {
    EXPECT_EQ(FirstLine("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(FirstLine("garbage without a break"), "garbage without a break");
}

// --- Frames the client sends ---------------------------------------------------------------------

TEST(MaskingKey, MixesTheFrameCounterWithTheTickCount) {
    EXPECT_EQ(MaskingKey(1, 0), 0x9E3779B9u);
    EXPECT_EQ(MaskingKey(2, 0), 0x3C6EF372u) << "the product wraps at 2^32";
    EXPECT_EQ(MaskingKey(1, 0xFFFFFFFFu), 0x61C88646u);
    EXPECT_EQ(MaskingKey(0, 0x12345678u), 0x12345678u);
}

TEST(EncodeFrame, Writes100BytesWithAOneByteLengthAndTheKeyBigEndian) {
    const Bytes payload = Pattern(100);
    const Bytes frame = EncodeFrame(kBinary, payload, 0x11223344u);
    ASSERT_EQ(frame.size(), 2u + 4u + 100u);
    EXPECT_EQ(frame[0], 0x82);
    EXPECT_EQ(frame[1], 0xE4);
    EXPECT_EQ((Bytes{frame.begin() + 2, frame.begin() + 6}), (Bytes{0x11, 0x22, 0x33, 0x44}));
    const std::uint8_t key[4] = {0x11, 0x22, 0x33, 0x44};
    for (std::size_t i = 0; i < payload.size(); ++i) {
        ASSERT_EQ(frame[6 + i], payload[i] ^ key[i % 4]) << "byte " << i;
    }
}

TEST(EncodeFrame, ChoosesTheLengthFormAtEachBoundary) {
    struct Case {
        std::size_t length;
        Bytes header;
    };
    const Case cases[] = {
        {0, {0x82, 0x80}},
        {125, {0x82, 0xFD}},
        {126, {0x82, 0xFE, 0x00, 0x7E}},
        {65535, {0x82, 0xFE, 0xFF, 0xFF}},
        {65536, {0x82, 0xFF, 0, 0, 0, 0, 0, 1, 0, 0}},
        {1 << 20, {0x82, 0xFF, 0, 0, 0, 0, 0, 0x10, 0, 0}},
    };
    for (const Case& c : cases) {
        const Bytes frame = EncodeFrame(kBinary, Bytes(c.length, 0xAB), 0);
        ASSERT_EQ(frame.size(), c.header.size() + 4 + c.length) << c.length;
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(c.header.size())), c.header)
            << c.length;
        EXPECT_EQ(frame.back(), c.length == 0 ? 0 : 0xAB) << "a zero key leaves the payload as it is";
    }
}

TEST(EncodeFrame, SetsFinAndTheOpcodeOfAPong) {
    const Bytes frame = EncodeFrame(kPong, Text("ab"), 0x01020304u);
    EXPECT_EQ(frame, (Bytes{0x8A, 0x82, 0x01, 0x02, 0x03, 0x04, 'a' ^ 0x01, 'b' ^ 0x02}));
}

TEST(AppendFrame, PutsFramesBackToBackEachWithItsOwnKey) {
    Bytes out{0xAA};
    AppendFrame(out, kBinary, Text("ab"), 0x01020304u);
    AppendFrame(out, kPong, Text("c"), 0x10000000u);
    EXPECT_EQ(out, (Bytes{0xAA, 0x82, 0x82, 1, 2, 3, 4, 'a' ^ 1, 'b' ^ 2, 0x8A, 0x81, 0x10, 0, 0, 0, 'c' ^ 0x10}));
}

// --- Reading ahead -------------------------------------------------------------------------------

TEST(ReadAheadSource, ServesSmallReadsFromOneLargeRead) {
    ScriptedSource inner(Pattern(1000));
    ReadAheadSource source(inner);
    std::uint8_t two[2];
    ASSERT_EQ(source.Receive(two, 2), 2);
    EXPECT_EQ(inner.requests, (std::vector<int>{65536})) << "one read of at most 64 KiB";
    EXPECT_EQ(source.buffered(), 998u);
    Bytes rest(998);
    ASSERT_EQ(source.Receive(rest.data(), 2000), 998) << "a read returns what is buffered";
    const Bytes all = Pattern(1000);
    EXPECT_EQ(rest, Bytes(all.begin() + 2, all.end()));
    EXPECT_EQ(inner.requests.size(), 1u);
    EXPECT_EQ(source.Receive(two, 2), 0) << "the inner source's end comes through";
}

TEST(ReadAheadSource, PassesLargeReadsStraightThroughWhenEmpty) {
    const Bytes all = Pattern(200000);
    ScriptedSource inner(all);
    ReadAheadSource source(inner);
    Bytes big(65536);
    ASSERT_EQ(source.Receive(big.data(), 65536), 65536);
    EXPECT_EQ(source.buffered(), 0u);
    EXPECT_EQ(big, Bytes(all.begin(), all.begin() + 65536));
}

TEST(ReadAheadSource, ReadsFramesOfEverySizeInAStream) {
    const Bytes small = Pattern(1400);
    const Bytes large = Pattern(4u << 20);
    Bytes stream;
    for (int i = 0; i < 100; ++i) {
        const Bytes frame = WireFrame(0x82, small);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    const Bytes frame = WireFrame(0x82, large);
    stream.insert(stream.end(), frame.begin(), frame.end());
    ScriptedSource inner(stream, 7000);
    ReadAheadSource source(inner);
    Bytes message;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(ReadMessage(source, [](std::span<const std::uint8_t>) {}, message));
        ASSERT_EQ(message, small) << i;
    }
    ASSERT_TRUE(ReadMessage(source, [](std::span<const std::uint8_t>) {}, message));
    EXPECT_EQ(message, large);
    EXPECT_LE(*std::max_element(inner.requests.begin(), inner.requests.end()), 65536);
}

// --- Frames the client reads ---------------------------------------------------------------------

TEST(ReadFrame, ReadsEveryLengthFormMaskedOrNot) {
    for (std::size_t length : {0u, 1u, 125u, 126u, 65535u, 65536u, 200000u}) {
        const Bytes payload = Pattern(length);
        ScriptedSource plain(WireFrame(0x82, payload));
        Frame frame;
        ASSERT_EQ(ReadFrame(plain, frame), FrameRead::kOk) << length;
        EXPECT_TRUE(frame.fin);
        EXPECT_EQ(frame.opcode, kBinary);
        EXPECT_EQ(frame.payload, payload) << length;

        Bytes masked = EncodeFrame(kBinary, payload, 0xA1B2C3D4u);  // a masked frame reads back unmasked
        ScriptedSource maskedSource(masked);
        ASSERT_EQ(ReadFrame(maskedSource, frame), FrameRead::kOk);
        EXPECT_EQ(frame.payload, payload) << length;
    }
}

TEST(ReadFrame, AsksForAtMost64KiBAtATimeAndCopesWithShortReads) {
    const Bytes payload = Pattern(300000);
    ScriptedSource source(WireFrame(0x82, payload), 1000);
    Frame frame;
    ASSERT_EQ(ReadFrame(source, frame), FrameRead::kOk);
    EXPECT_EQ(frame.payload, payload);
    EXPECT_LE(*std::max_element(source.requests.begin(), source.requests.end()), 65536);
}

TEST(ReadFrame, AcceptsExactly4MiB) {
    const Bytes payload = Pattern(4u << 20);
    ScriptedSource source(WireFrame(0x82, payload));
    Frame frame;
    ASSERT_EQ(ReadFrame(source, frame), FrameRead::kOk);
    EXPECT_EQ(frame.payload.size(), 4u << 20);
}

TEST(ReadFrame, RefusesOneByteMoreWithoutReadingThePayload) {
    const Bytes header{0x82, 127, 0, 0, 0, 0, 0, 0x40, 0x00, 0x01};
    ScriptedSource source(Concat({header, Bytes(100, 0)}));
    Frame frame;
    EXPECT_EQ(ReadFrame(source, frame), FrameRead::kTooLarge);
    EXPECT_EQ(source.consumed, header.size());
}

TEST(ReadFrame, RefusesAHuge64BitLength) {
    ScriptedSource source(Bytes{0x82, 127, 0x80, 0, 0, 0, 0, 0, 0, 0});
    Frame frame;
    EXPECT_EQ(ReadFrame(source, frame), FrameRead::kTooLarge);
}

TEST(ReadFrame, FailsWhenTheConnectionEndsInsideAFrame) {
    for (const Bytes& cut : {Bytes{}, Bytes{0x82}, Bytes{0x82, 126, 0x01}, Bytes{0x82, 0x85, 1, 2},
                             Bytes{0x82, 5, 'a', 'b'}}) {
        ScriptedSource source(cut);
        Frame frame;
        EXPECT_EQ(ReadFrame(source, frame), FrameRead::kReceiveFailed) << cut.size();
    }
}

// --- Whole messages ------------------------------------------------------------------------------

struct MessageResult {
    bool ok = false;
    Bytes message;
    std::vector<Bytes> pings;
    std::size_t consumed = 0;
};

MessageResult Read(const Bytes& wire) {
    ScriptedSource source(wire);
    MessageResult result;
    result.ok = ReadMessage(
        source, [&](std::span<const std::uint8_t> ping) { result.pings.emplace_back(ping.begin(), ping.end()); },
        result.message);
    result.consumed = source.consumed;
    return result;
}

TEST(ReadMessage, JoinsAFragmentedBinaryMessage) {
    const MessageResult result =
        Read(Concat({WireFrame(0x02, Text("abc")), WireFrame(0x00, Text("de")), WireFrame(0x80, Text("f")), WireFrame(0x82, Text("x"))}));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, Text("abcdef"));
    EXPECT_EQ(result.consumed, 5u + 4u + 3u) << "the next message stays unread";
}

TEST(ReadMessage, AnswersPingsOnTheWayAndGoesOn) {
    const MessageResult result =
        Read(Concat({WireFrame(0x02, Text("ab")), WireFrame(0x89, Text("ab")), WireFrame(0x80, Text("cd"))}));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, Text("abcd"));
    ASSERT_EQ(result.pings.size(), 1u);
    EXPECT_EQ(result.pings[0], Text("ab"));
}

TEST(ReadMessage, SkipsTextPongAndReservedFrames) {
    const MessageResult result =
        Read(Concat({WireFrame(0x81, Text("hello")), WireFrame(0x8A, Text("p")), WireFrame(0x83, Text("r")), WireFrame(0x82, Text("z"))}));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, Text("z"));
}

TEST(ReadMessage, EndsAtACloseFrameWithoutAReply) {
    const MessageResult result = Read(Concat({WireFrame(0x88, Bytes{0x03, 0xE8}), WireFrame(0x82, Text("z"))}));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.pings.empty());
}

TEST(ReadMessage, TreatsAnEmptyBinaryMessageAsAFailure) {
    EXPECT_FALSE(Read(WireFrame(0x82, {})).ok);
}

TEST(ReadMessage, FailsOnAnOversizedFrameOrAnEndedConnection) {
    EXPECT_FALSE(Read(Bytes{0x82, 127, 0, 0, 0, 0, 0, 0x40, 0x00, 0x01}).ok);
    const MessageResult cut = Read(WireFrame(0x02, Text("abc")));
    EXPECT_FALSE(cut.ok);
    EXPECT_TRUE(cut.message.empty()) << "a failed read leaves no half message behind";
}

TEST(ReadMessage, AcceptsFragmentsThatAddUpToExactly4MiB) {
    const Bytes half = Pattern(2u << 20);
    const MessageResult result = Read(Concat({WireFrame(0x02, half), WireFrame(0x89, Text("p")), WireFrame(0x80, half)}));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message.size(), 4u << 20);
}

TEST(ReadMessage, RefusesFragmentsThatAddUpToMoreThan4MiB) {
    // Every frame is within the limit; the message they build is not, and must not keep growing.
    const Bytes half = Pattern(2u << 20);
    const Bytes wire = Concat({WireFrame(0x02, half), WireFrame(0x00, half), WireFrame(0x00, Text("x")),
                               WireFrame(0x80, half)});
    const MessageResult result = Read(wire);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.empty());
    EXPECT_EQ(result.consumed, 2 * WireFrame(0x02, half).size() + 2)
        << "the fragment that passes the limit is refused before its payload is read";
}

TEST(ReadFrame, CountsTheMessageSoFarOnlyForDataFrames) {
    const Bytes ping = WireFrame(0x89, Text("ab"));
    ScriptedSource pingSource(ping);
    Frame frame;
    EXPECT_EQ(ReadFrame(pingSource, frame, 4u << 20), FrameRead::kOk) << "a ping inside a full message is fine";
    ScriptedSource dataSource(WireFrame(0x00, Text("ab")));
    EXPECT_EQ(ReadFrame(dataSource, frame, (4u << 20) - 1), FrameRead::kTooLarge);
    EXPECT_EQ(dataSource.consumed, 2u);
}

}  // namespace
}  // namespace ostrevane::websocket
