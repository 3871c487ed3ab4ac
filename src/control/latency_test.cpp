#include "control/latency_test.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstring>

#include "platform/unique_handle.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

struct IcmpHandleTraits {
    using Pointer = HANDLE;
    static Pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Pointer h) noexcept { IcmpCloseHandle(h); }
};
using UniqueIcmpHandle = UniqueHandle<IcmpHandleTraits>;

constexpr char kEchoData[] = "Ostrevane";  // sent with its terminating zero: 10 bytes
constexpr DWORD kEchoTimeoutMs = 1000;
constexpr std::size_t kReplyBufferSize = 82;

// Dotted IPv4 text only; host names and IPv6 are refused. A NUL inside the text would let
// inet_pton see only the part before it, so such a text is refused too.
bool ParseIpv4(const std::wstring& text, IN_ADDR& address) {
    if (text.find(L'\0') != std::wstring::npos) {
        return false;
    }
    return inet_pton(AF_INET, WideToUtf8(text).c_str(), &address) == 1;
}

}  // namespace

LatencyReport MeasureLatency(const std::wstring& testIp) {
    const std::wstring ip = TrimWhitespace(testIp);
    if (ip.empty()) {
        return DescribeLatency(LatencyOutcome::NoAddress, ip, 0);
    }
    IN_ADDR address{};
    if (!ParseIpv4(ip, address)) {
        return DescribeLatency(LatencyOutcome::InvalidAddress, ip, 0);
    }
    UniqueIcmpHandle icmp(IcmpCreateFile());
    if (!icmp) {
        return DescribeLatency(LatencyOutcome::NoIcmpHandle, ip, 0);
    }
    char request[sizeof kEchoData];
    std::memcpy(request, kEchoData, sizeof request);
    alignas(ICMP_ECHO_REPLY) unsigned char reply[kReplyBufferSize] = {};
    const DWORD replies = IcmpSendEcho(icmp.get(), address.S_un.S_addr, request, sizeof request, nullptr, reply,
                                       sizeof reply, kEchoTimeoutMs);
    icmp.reset();
    const auto* first = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
    return DescribeLatency(ClassifyEchoReply(replies, first->Status), ip, first->RoundTripTime);
}

void RunLatencyTest(ClientState& snapshot, EngineSlot /*engine*/, std::wstring& message) {
    LatencyReport report = MeasureLatency(snapshot.testIp);
    snapshot.latencyText = std::move(report.latencyText);
    SaveClientState(snapshot);
    message = std::move(report.message);
}

}  // namespace ostrevane
