#include "control/latency_report.h"

namespace ostrevane {

LatencyReport DescribeLatency(LatencyOutcome outcome, const std::wstring& trimmedIp, std::uint32_t roundTripMs) {
    switch (outcome) {
    case LatencyOutcome::NoAddress:
        return {L"未填写测试 IP", L"通讯延迟：未填写测试 IP。"};
    case LatencyOutcome::InvalidAddress:
        return {L"IP 无效", L"通讯延迟测试失败：测试 IP 无效。"};
    case LatencyOutcome::NoIcmpHandle:
        return {L"失败", L"通讯延迟测试失败：无法创建 ICMP 句柄。"};
    case LatencyOutcome::TimedOut:
        return {L"超时", L"通讯延迟测试超时：" + trimmedIp};
    case LatencyOutcome::Failed:
        return {L"失败", L"通讯延迟测试失败：" + trimmedIp};
    case LatencyOutcome::Answered:
        break;
    }
    std::wstring text = std::to_wstring(roundTripMs) + L" ms";
    std::wstring message = L"通讯延迟 " + text + L"：" + trimmedIp;
    return {std::move(text), std::move(message)};
}

LatencyOutcome ClassifyEchoReply(std::uint32_t replyCount, std::uint32_t firstReplyStatus) {
    if (replyCount == 0) {
        return LatencyOutcome::TimedOut;
    }
    return firstReplyStatus == 0 ? LatencyOutcome::Answered : LatencyOutcome::Failed;
}

}  // namespace ostrevane
