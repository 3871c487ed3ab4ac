// The texts of the latency test: what one ICMP echo (or the failure before it) becomes in the
// stored latency field and in the status line. No Win32 here, so the texts are tested directly.
#pragma once

#include <cstdint>
#include <string>

namespace ostrevane {

enum class LatencyOutcome {
    NoAddress,       // the test address is empty after trimming
    InvalidAddress,  // not an IPv4 address in dotted form
    NoIcmpHandle,    // the ICMP handle could not be created
    TimedOut,        // no reply within the time-out
    Failed,          // a reply whose status is not success (an ICMP error, for example)
    Answered,        // an echo reply
};

struct LatencyReport {
    std::wstring latencyText;  // stored in ClientState and shown by the window
    std::wstring message;      // the operation's status line
};

// `trimmedIp` is the address as it was used; `roundTripMs` counts only for Answered.
LatencyReport DescribeLatency(LatencyOutcome outcome, const std::wstring& trimmedIp, std::uint32_t roundTripMs);

// The outcome of an echo that was sent: no reply means the time-out, a reply with a non-zero
// status a failure.
LatencyOutcome ClassifyEchoReply(std::uint32_t replyCount, std::uint32_t firstReplyStatus);

}  // namespace ostrevane
