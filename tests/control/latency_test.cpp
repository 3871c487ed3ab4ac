// The latency test: its texts for every outcome, and real echoes to the loopback address
// (ICMP under Wine needs root, which the tests have).
#include "control/latency_test.h"

#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "support/state_guards.h"

namespace ostrevane {
namespace {

using testing::SettingsFileGuard;

// "N ms" with N a decimal number; returns N.
std::optional<unsigned long> RoundTripOf(const std::wstring& latencyText) {
    if (latencyText.size() < 4 || latencyText.substr(latencyText.size() - 3) != L" ms") {
        return std::nullopt;
    }
    const std::wstring digits = latencyText.substr(0, latencyText.size() - 3);
    if (digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return std::nullopt;
    }
    return std::stoul(digits);
}

TEST(LatencyReport, TextsBeforeAnyEcho) {
    EXPECT_EQ(DescribeLatency(LatencyOutcome::NoAddress, L"", 0).latencyText, L"未填写测试 IP");
    EXPECT_EQ(DescribeLatency(LatencyOutcome::NoAddress, L"", 0).message, L"通讯延迟：未填写测试 IP。");
    EXPECT_EQ(DescribeLatency(LatencyOutcome::InvalidAddress, L"host", 0).latencyText, L"IP 无效");
    EXPECT_EQ(DescribeLatency(LatencyOutcome::InvalidAddress, L"host", 0).message, L"通讯延迟测试失败：测试 IP 无效。");
    EXPECT_EQ(DescribeLatency(LatencyOutcome::NoIcmpHandle, L"10.0.0.1", 0).latencyText, L"失败");
    EXPECT_EQ(DescribeLatency(LatencyOutcome::NoIcmpHandle, L"10.0.0.1", 0).message,
              L"通讯延迟测试失败：无法创建 ICMP 句柄。");
}

TEST(LatencyReport, TextsAfterAnEcho) {
    const LatencyReport timedOut = DescribeLatency(LatencyOutcome::TimedOut, L"10.0.0.1", 7);
    EXPECT_EQ(timedOut.latencyText, L"超时");
    EXPECT_EQ(timedOut.message, L"通讯延迟测试超时：10.0.0.1");
    const LatencyReport failed = DescribeLatency(LatencyOutcome::Failed, L"10.0.0.1", 7);
    EXPECT_EQ(failed.latencyText, L"失败");
    EXPECT_EQ(failed.message, L"通讯延迟测试失败：10.0.0.1");
    const LatencyReport answered = DescribeLatency(LatencyOutcome::Answered, L"10.0.0.1", 37);
    EXPECT_EQ(answered.latencyText, L"37 ms");
    EXPECT_EQ(answered.message, L"通讯延迟 37 ms：10.0.0.1");
}

TEST(LatencyReport, ZeroRoundTripIsTheDigitZero) {
    EXPECT_EQ(DescribeLatency(LatencyOutcome::Answered, L"127.0.0.1", 0).latencyText, L"0 ms");
    EXPECT_EQ(DescribeLatency(LatencyOutcome::Answered, L"127.0.0.1", 4294967295u).latencyText, L"4294967295 ms");
}

TEST(LatencyReport, EchoResultsAreClassifiedByCountThenStatus) {
    EXPECT_EQ(ClassifyEchoReply(0, 0), LatencyOutcome::TimedOut);
    EXPECT_EQ(ClassifyEchoReply(0, 11010), LatencyOutcome::TimedOut);
    EXPECT_EQ(ClassifyEchoReply(1, 0), LatencyOutcome::Answered);
    EXPECT_EQ(ClassifyEchoReply(1, 11003), LatencyOutcome::Failed);  // destination unreachable
    EXPECT_EQ(ClassifyEchoReply(2, 11013), LatencyOutcome::Failed);  // time to live exceeded
}

TEST(MeasureLatency, LoopbackAnswersWithARoundTrip) {
    const LatencyReport report = MeasureLatency(L"127.0.0.1");
    const auto roundTrip = RoundTripOf(report.latencyText);
    ASSERT_TRUE(roundTrip.has_value()) << report.latencyText.c_str();
    EXPECT_LT(*roundTrip, 1000u);
    EXPECT_EQ(report.message, L"通讯延迟 " + report.latencyText + L"：127.0.0.1");
}

TEST(MeasureLatency, BlanksAroundTheAddressAreTrimmed) {
    const LatencyReport report = MeasureLatency(L" \t127.0.0.1 \r\n");
    ASSERT_TRUE(RoundTripOf(report.latencyText).has_value()) << report.latencyText.c_str();
    EXPECT_EQ(report.message, L"通讯延迟 " + report.latencyText + L"：127.0.0.1");
}

TEST(MeasureLatency, EmptyOrBlankAddress) {
    for (const wchar_t* ip : {L"", L"   ", L"\t\r\n"}) {
        const LatencyReport report = MeasureLatency(ip);
        EXPECT_EQ(report.latencyText, L"未填写测试 IP");
        EXPECT_EQ(report.message, L"通讯延迟：未填写测试 IP。");
    }
}

TEST(MeasureLatency, HostNamesIpv6AndMalformedAddressesAreInvalid) {
    const std::wstring withNul = std::wstring(L"127.0.0.1") + L'\0' + L"x";
    for (const std::wstring& ip : {std::wstring(L"localhost"), std::wstring(L"::1"), std::wstring(L"fe80::1"),
                                   std::wstring(L"127.0.0"), std::wstring(L"256.0.0.1"), std::wstring(L"127.0.0.1/32"),
                                   std::wstring(L"127.0.0.1:80"), std::wstring(L"127. 0.0.1"),
                                   std::wstring(L"１２７.0.0.1"), withNul}) {
        const LatencyReport report = MeasureLatency(ip);
        EXPECT_EQ(report.latencyText, L"IP 无效") << ip.c_str();
        EXPECT_EQ(report.message, L"通讯延迟测试失败：测试 IP 无效。") << ip.c_str();
    }
}

TEST(RunLatencyTest, StoresTheTextSavesTheStateAndKeepsTheAddress) {
    SettingsFileGuard settings;
    ClientState state;
    state.engineerId = L"ENG-12345678";
    state.testIp = L"  127.0.0.1  ";
    std::wstring message;
    RunLatencyTest(state, nullptr, message);
    EXPECT_EQ(state.testIp, L"  127.0.0.1  ");
    ASSERT_TRUE(RoundTripOf(state.latencyText).has_value()) << state.latencyText.c_str();
    EXPECT_EQ(message, L"通讯延迟 " + state.latencyText + L"：127.0.0.1");

    ClientState saved;
    LoadClientState(saved);
    EXPECT_EQ(saved, state);
}

TEST(RunLatencyTest, FailuresAreSavedToo) {
    SettingsFileGuard settings;
    ClientState state;
    state.engineerId = L"ENG-12345678";
    state.testIp = L"gateway.local";
    std::wstring message = L"old";
    RunLatencyTest(state, nullptr, message);
    EXPECT_EQ(state.latencyText, L"IP 无效");
    EXPECT_EQ(message, L"通讯延迟测试失败：测试 IP 无效。");
    ClientState saved;
    LoadClientState(saved);
    EXPECT_EQ(saved.latencyText, L"IP 无效");
    EXPECT_EQ(saved.testIp, L"gateway.local");

    state.testIp.clear();
    RunLatencyTest(state, nullptr, message);
    EXPECT_EQ(message, L"通讯延迟：未填写测试 IP。");
    LoadClientState(saved);
    EXPECT_EQ(saved.latencyText, L"未填写测试 IP");
}

}  // namespace
}  // namespace ostrevane
