// Datagrams from a hostile UDP relay: an acknowledgement or a data datagram is accepted exactly
// when it has the documented form, and what the client builds reads back as what it put in.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "tunnel/udp_datagrams.h"

namespace {

using namespace ostrevane;

std::uint64_t Uint64At(const std::uint8_t* data) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value = (value << 8) | data[i];
    }
    return value;
}

bool HasMagicAndKind(const std::uint8_t* data, std::size_t size, std::uint8_t kind) {
    return size >= 5 && std::memcmp(data, "OVU1", 4) == 0 && data[4] == kind;
}

void CheckReceived(const std::uint8_t* data, std::size_t size) {
    const auto token = ParseUdpAcknowledgement(data, size);
    const bool ack = size == 14 && HasMagicAndKind(data, size, 3) && data[5] == 2 && Uint64At(data + 6) != 0;
    FUZZ_CHECK(token.has_value() == ack);
    FUZZ_CHECK(!ack || *token == Uint64At(data + 6));

    const auto view = ParseUdpData(data, size);
    const bool isData = size >= 14 && size <= 1400 && HasMagicAndKind(data, size, 4) && Uint64At(data + 5) != 0;
    FUZZ_CHECK(view.has_value() == isData);
    if (isData) {
        FUZZ_CHECK(view->token == Uint64At(data + 5) && view->payload == data + 13 && view->payloadLength == size - 13);
    }
    const bool fits = size >= 20 && size <= 1350 && (data[0] >> 4) == 4 && data[9] == 17;
    FUZZ_CHECK(FitsUdpPath(data, size) == fits);
}

void CheckBuilt(FuzzedDataProvider& input) {
    const auto token = input.ConsumeIntegral<std::uint64_t>();
    const std::vector<std::uint8_t> packet = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 1500));
    const std::vector<unsigned char> datagram = BuildUdpData(token, packet.data(), packet.size());
    FUZZ_CHECK(datagram.size() == 13 + packet.size());
    const auto view = ParseUdpData(datagram.data(), datagram.size());
    if (token != 0 && !packet.empty() && datagram.size() <= 1400) {
        FUZZ_CHECK(view && view->token == token && view->payloadLength == packet.size());
        FUZZ_CHECK(std::equal(packet.begin(), packet.end(), view->payload));
    } else {
        FUZZ_CHECK(!view);
    }

    const std::wstring connectionId = Utf8ToWide(input.ConsumeRandomLengthString(200));
    const std::wstring engineerId = Utf8ToWide(input.ConsumeRandomLengthString(200));
    const std::vector<unsigned char> hello = BuildUdpHello(connectionId, engineerId);
    FUZZ_CHECK(HasMagicAndKind(hello.data(), hello.size(), 2) && hello.size() >= 9);
    const std::size_t first = (std::size_t{hello[5]} << 8) | hello[6];
    FUZZ_CHECK(hello.size() >= 9 + first);
    const std::size_t second = (std::size_t{hello[7 + first]} << 8) | hello[8 + first];
    FUZZ_CHECK(hello.size() == 9 + first + second);
    FUZZ_CHECK(std::string(hello.begin() + 7, hello.begin() + 7 + static_cast<std::ptrdiff_t>(first)) ==
               WideToUtf8(TrimWhitespace(connectionId)));
    FUZZ_CHECK(!ParseUdpAcknowledgement(hello.data(), hello.size()) && !ParseUdpData(hello.data(), hello.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckReceived(data, size);
    FuzzedDataProvider input(data, size);
    CheckBuilt(input);
    return 0;
}
