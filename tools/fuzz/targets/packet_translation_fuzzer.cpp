// The tunnel's packet path on any bytes, in both directions, with a WinDivert table of fakes:
// outbound packets go through the capture loop (validation, re-injection of what is not ours,
// translation, MSS clamping, checksums, the connection table, the send queue), inbound packets
// through DispatchInbound (validation, the table, translation back, injection). The fakes read
// every byte they are handed, so a length past the buffer is a sanitizer finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

#include "divert_standin/ipv4_checksums.h"
#include "fuzz_support.h"
#include "tunnel/byte_order.h"
#include "tunnel/capture_loop.h"
#include "tunnel/route_lookup.h"

namespace {

using namespace ostrevane;

const HANDLE kCaptureHandle = reinterpret_cast<HANDLE>(std::intptr_t{0x10});
const HANDLE kInjectionHandle = reinterpret_cast<HANDLE>(std::intptr_t{0x20});

struct Injection {
    HANDLE handle = nullptr;
    std::vector<std::uint8_t> bytes;
    WINDIVERT_ADDRESS address{};
};

// What the fake WinDivert functions work on; one test input at a time.
struct FakeDivert {
    TunnelDataPath* path = nullptr;
    std::vector<std::uint8_t> captured;  // the one packet the next receive delivers
    WINDIVERT_ADDRESS capturedAddress{};
    bool deliver = false;
    bool overstateLength = false;  // report more bytes than the buffer holds
    bool failChecksums = false;
    bool failSends = false;
    std::vector<Injection> injections;
    int pauses = 0;
};

FakeDivert* g_fake = nullptr;

// Touches every byte of a span the code under test hands out.
std::uint32_t ReadAll(const void* data, UINT length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t sum = 0;
    for (UINT i = 0; i < length; ++i) {
        sum += bytes[i];
    }
    return sum;
}

BOOL FakeRecv(HANDLE handle, VOID* packet, UINT packetLength, UINT* receivedLength, WINDIVERT_ADDRESS* address) {
    FUZZ_CHECK(handle == kCaptureHandle);
    if (!g_fake->deliver) {
        g_fake->path->running = false;  // everything delivered: the capture loop ends at its next test
        return FALSE;
    }
    g_fake->deliver = false;
    const UINT length = static_cast<UINT>(std::min<std::size_t>(g_fake->captured.size(), packetLength));
    std::copy_n(g_fake->captured.data(), length, static_cast<std::uint8_t*>(packet));
    *receivedLength = g_fake->overstateLength ? packetLength + 100 : length;
    *address = g_fake->capturedAddress;
    return TRUE;
}

BOOL FakeSend(HANDLE handle, const VOID* packet, UINT packetLength, UINT* sentLength, const WINDIVERT_ADDRESS* address) {
    (void)ReadAll(packet, packetLength);
    if (g_fake->failSends) {
        return FALSE;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(packet);
    g_fake->injections.push_back({handle, std::vector<std::uint8_t>(bytes, bytes + packetLength), *address});
    *sentLength = packetLength;
    return TRUE;
}

BOOL FakeCalcChecksums(VOID* packet, UINT packetLength, WINDIVERT_ADDRESS* address, UINT64 flags) {
    FUZZ_CHECK(address != nullptr && flags == 0);
    (void)ReadAll(packet, packetLength);
    if (g_fake->failChecksums) {
        return FALSE;
    }
    return standin::CalcIpv4Checksums(static_cast<unsigned char*>(packet), packetLength) ? TRUE : FALSE;
}

BOOL FakeClose(HANDLE) { return TRUE; }

void RecordPause(std::chrono::milliseconds) { ++g_fake->pauses; }

Ipv4Network NetworkFrom(FuzzedDataProvider& input, std::uint32_t shortestPrefix) {
    const auto prefix = input.ConsumeIntegralInRange<std::uint32_t>(shortestPrefix, 32);
    return {input.ConsumeIntegral<std::uint32_t>() & PrefixMask(prefix), prefix};
}

// A packet that is mostly well formed when asked (so that coverage reaches the translation),
// otherwise raw bytes.
std::vector<std::uint8_t> PacketFrom(FuzzedDataProvider& input, std::uint32_t destination, std::uint32_t source) {
    const std::uint8_t shape = input.ConsumeIntegral<std::uint8_t>();
    std::vector<std::uint8_t> packet = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 1600));
    if ((shape & 1) == 0 || packet.size() < 20) {
        return packet;
    }
    const std::uint8_t protocols[] = {kProtocolIcmp, kProtocolTcp, kProtocolUdp, 47};
    const std::size_t headerLength = (shape & 2) ? 20 : std::min<std::size_t>(packet.size(), 4u * (5 + (packet[0] & 0x0F) % 11)) & ~std::size_t{3};
    packet[0] = static_cast<std::uint8_t>(0x40 | (headerLength / 4));
    if (shape & 4) {
        WriteBe16(packet.data() + kIpTotalLengthOffset, static_cast<std::uint16_t>(packet.size()));
    }
    packet[kIpProtocolOffset] = protocols[(shape >> 3) & 3];
    WriteBe32(packet.data() + kIpSourceOffset, source);
    WriteBe32(packet.data() + kIpDestinationOffset, destination);
    return packet;
}

// An address inside one of the mapping networks (outbound) or an arbitrary one.
std::uint32_t DestinationFrom(FuzzedDataProvider& input, const std::vector<RouteMapping>& mappings) {
    const auto host = input.ConsumeIntegral<std::uint32_t>();
    if (mappings.empty() || input.ConsumeBool()) {
        return host;
    }
    const RouteMapping& mapping = mappings[input.ConsumeIntegralInRange<std::size_t>(0, mappings.size() - 1)];
    return mapping.mappingNetwork | (host & ~PrefixMask(mapping.mappingPrefix));
}

// A reply to a packet that left through the tunnel: addresses and ports swapped.
std::vector<std::uint8_t> ReplyTo(std::vector<std::uint8_t> packet, const PacketView& view) {
    std::uint8_t* bytes = packet.data();
    const std::uint32_t source = ReadBe32(bytes + kIpSourceOffset);
    WriteBe32(bytes + kIpSourceOffset, ReadBe32(bytes + kIpDestinationOffset));
    WriteBe32(bytes + kIpDestinationOffset, source);
    std::uint8_t* transport = bytes + view.headerLength;
    if (view.protocol != kProtocolIcmp) {
        const std::uint16_t port = ReadBe16(transport + kSourcePortOffset);
        WriteBe16(transport + kSourcePortOffset, ReadBe16(transport + kDestinationPortOffset));
        WriteBe16(transport + kDestinationPortOffset, port);
    }
    return packet;
}

void CheckView(const std::vector<std::uint8_t>& packet, const PacketView& view) {
    FUZZ_CHECK(view.headerLength >= 20 && view.headerLength <= view.totalLength && view.totalLength <= packet.size());
    const std::uint32_t minimum = view.protocol == kProtocolTcp ? 20 : 8;
    FUZZ_CHECK(view.totalLength >= view.headerLength + minimum);
}

class Run {
public:
    explicit Run(FuzzedDataProvider& input) : input_(input) {
        fake_.path = &path_;
        g_fake = &fake_;
        auto api = std::make_unique<DivertApi>();
        api->recv = &FakeRecv;
        api->send = &FakeSend;
        api->calcChecksums = &FakeCalcChecksums;
        api->close = &FakeClose;
        path_.api = std::move(api);
        path_.captureHandle = kCaptureHandle;
        path_.injectionHandle = input.ConsumeIntegralInRange(0, 15) == 0 ? INVALID_HANDLE_VALUE : kInjectionHandle;
        path_.pause = &RecordPause;
        path_.assignedAddress = input.ConsumeIntegral<std::uint32_t>();

        std::vector<Ipv4Network> targets;
        std::vector<Ipv4Network> locals;
        for (int i = input.ConsumeIntegralInRange(1, 4); i > 0; --i) {
            targets.push_back(NetworkFrom(input, 8));
        }
        for (int i = input.ConsumeIntegralInRange(0, 2); i > 0; --i) {
            locals.push_back(NetworkFrom(input, 8));
        }
        try {
            path_.mappings = ChooseMappingNetworks(targets, locals);
        } catch (const std::runtime_error& error) {
            FUZZ_CHECK(std::string(error.what()) == "No available NAT mapping network was found in 100.80.0.0/12.");
        }
    }
    ~Run() { g_fake = nullptr; }

    void Outbound() {
        const std::uint32_t source = input_.ConsumeIntegral<std::uint32_t>();
        fake_.captured = PacketFrom(input_, DestinationFrom(input_, path_.mappings), source);
        fake_.capturedAddress = WINDIVERT_ADDRESS{};
        fake_.capturedAddress.Network.IfIdx = input_.ConsumeIntegral<std::uint8_t>();
        fake_.capturedAddress.Network.SubIfIdx = input_.ConsumeIntegral<std::uint8_t>();
        fake_.capturedAddress.Outbound = 1;
        fake_.overstateLength = input_.ConsumeIntegralInRange(0, 31) == 0;
        fake_.failChecksums = input_.ConsumeIntegralInRange(0, 15) == 0;
        fake_.failSends = input_.ConsumeIntegralInRange(0, 15) == 0;
        fake_.deliver = true;
        fake_.injections.clear();
        const int pausesBefore = fake_.pauses;
        const std::size_t queuedBefore = path_.sendQueue.Size();

        path_.running = true;
        CaptureLoop(path_);
        FUZZ_CHECK(!fake_.deliver && !path_.running);

        const std::vector<std::uint8_t>& packet = fake_.captured;
        if (fake_.overstateLength) {
            return;  // the loop took whatever its buffer held; only memory safety is asked here
        }
        const auto view = ValidatePacket(packet);
        if (!view) {
            // Not ours: put back unchanged, with the record as received.
            if (fake_.failSends) {
                FUZZ_CHECK(fake_.injections.empty() && fake_.pauses == pausesBefore + 1);
            } else {
                FUZZ_CHECK(fake_.injections.size() == 1);
                const Injection& injection = fake_.injections.front();
                FUZZ_CHECK(injection.handle == path_.injectionHandle.load() && injection.bytes == packet);
                FUZZ_CHECK(std::memcmp(&injection.address, &fake_.capturedAddress, sizeof(WINDIVERT_ADDRESS)) == 0);
            }
            FUZZ_CHECK(path_.sendQueue.Size() == queuedBefore);
            return;
        }
        CheckView(packet, *view);
        FUZZ_CHECK(fake_.injections.empty());
        const std::uint32_t destination = ReadBe32(packet.data() + kIpDestinationOffset);
        const RouteMapping* mapping = FindRouteMapping(path_.mappings, destination);
        if (mapping == nullptr || fake_.failChecksums || path_.sendQueue.Size() == queuedBefore) {
            FUZZ_CHECK(path_.sendQueue.Size() == queuedBefore);
            return;  // dropped, or lost to a failed checksum (which pauses) or to a checksum the fake refused
        }
        FUZZ_CHECK(path_.sendQueue.Size() == queuedBefore + 1);
        std::vector<std::uint8_t> sent = *path_.sendQueue.WaitPop(path_.stopping);
        FUZZ_CHECK(sent.size() == packet.size());
        FUZZ_CHECK(ReadBe32(sent.data() + kIpSourceOffset) == path_.assignedAddress);
        FUZZ_CHECK(ReadBe32(sent.data() + kIpDestinationOffset) == SiteAddress(*mapping, destination));
        FUZZ_CHECK(std::memcmp(sent.data(), packet.data(), 10) == 0);  // version to protocol untouched
        FUZZ_CHECK(std::equal(sent.begin() + view->totalLength, sent.end(), packet.begin() + view->totalLength));
        const auto flow = path_.flows.find(OutboundFlowKey(sent, *view));
        FUZZ_CHECK(flow != path_.flows.end());
        FUZZ_CHECK(flow->second.untranslatedSource == ReadBe32(packet.data() + kIpSourceOffset));
        FUZZ_CHECK(flow->second.untranslatedDestination == destination);
        FUZZ_CHECK(flow->second.interfaceIndex == fake_.capturedAddress.Network.IfIdx);
        if (translated_.size() >= 8) {
            translated_.pop_front();
        }
        translated_.push_back(std::move(sent));
    }

    void Inbound() {
        std::vector<std::uint8_t> packet;
        if (!translated_.empty() && input_.ConsumeBool()) {
            const auto& original = translated_[input_.ConsumeIntegralInRange<std::size_t>(0, translated_.size() - 1)];
            packet = ReplyTo(original, *ValidatePacket(original));
            for (int flips = input_.ConsumeIntegralInRange(0, 3); flips > 0; --flips) {
                packet[input_.ConsumeIntegralInRange<std::size_t>(0, packet.size() - 1)] ^= input_.ConsumeIntegral<std::uint8_t>();
            }
        } else {
            const std::uint32_t source = input_.ConsumeIntegral<std::uint32_t>();
            packet = PacketFrom(input_, path_.assignedAddress, source);
        }
        fake_.failChecksums = input_.ConsumeIntegralInRange(0, 15) == 0;
        fake_.failSends = input_.ConsumeIntegralInRange(0, 15) == 0;
        fake_.injections.clear();
        const std::vector<std::uint8_t> received = packet;

        DispatchInbound(path_, packet);

        const auto view = ValidatePacket(received);
        const auto flow = view ? path_.flows.find(InboundFlowKey(received, *view)) : path_.flows.end();
        if (path_.injectionHandle.load() == INVALID_HANDLE_VALUE || flow == path_.flows.end() || fake_.failChecksums ||
            fake_.failSends || fake_.injections.empty()) {
            FUZZ_CHECK(fake_.injections.empty());
            return;
        }
        FUZZ_CHECK(fake_.injections.size() == 1);
        const Injection& injection = fake_.injections.front();
        FUZZ_CHECK(injection.handle == kInjectionHandle && injection.bytes.size() == view->totalLength);
        FUZZ_CHECK(ReadBe32(injection.bytes.data() + kIpDestinationOffset) == flow->second.untranslatedSource);
        FUZZ_CHECK(ReadBe32(injection.bytes.data() + kIpSourceOffset) == flow->second.untranslatedDestination);
        FUZZ_CHECK(injection.address.Outbound == 0);
        FUZZ_CHECK(injection.address.Network.IfIdx == flow->second.interfaceIndex);
        FUZZ_CHECK(injection.address.Network.SubIfIdx == flow->second.subInterfaceIndex);
    }

private:
    FuzzedDataProvider& input_;
    TunnelDataPath path_;
    FakeDivert fake_;
    std::deque<std::vector<std::uint8_t>> translated_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Run run(input);
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
        if (input.ConsumeBool()) {
            run.Outbound();
        } else {
            run.Inbound();
        }
    }
    return 0;
}
