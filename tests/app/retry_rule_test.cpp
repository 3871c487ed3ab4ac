#include "app/retry_rule.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

ClientState Refused(const std::wstring& code) {
    ClientState state;
    state.heartbeatMessage = code;
    return state;
}

TEST(ArmsAuthorizationRetry, TheFiveRetryableCodesArmWithoutAConnection) {
    for (const wchar_t* code : {L"DEVICE_NOT_BOUND", L"TRAFFIC_QUOTA_EXCEEDED", L"CONCURRENT_LIMIT_EXCEEDED",
                                L"DEVICE_OFFLINE", L"device_relay_offline"}) {
        EXPECT_TRUE(ArmsAuthorizationRetry(Refused(code))) << code;
    }
}

TEST(ArmsAuthorizationRetry, OtherCodesOrAConnectionDisarm) {
    EXPECT_FALSE(ArmsAuthorizationRetry(Refused(L"")));
    EXPECT_FALSE(ArmsAuthorizationRetry(Refused(L"DEVICE_SECRET_INVALID")));
    ClientState connected = Refused(L"DEVICE_OFFLINE");
    connected.connectionId = L"c-1";
    EXPECT_FALSE(ArmsAuthorizationRetry(connected));
}

TEST(RetriesOnTick, ATickWhileBusyIsSkipped) {
    EXPECT_TRUE(RetriesOnTick(false, Refused(L"DEVICE_OFFLINE"), false));
    EXPECT_FALSE(RetriesOnTick(true, Refused(L"DEVICE_OFFLINE"), false));
    EXPECT_FALSE(RetriesOnTick(false, Refused(L"NO_SHARED_NETWORKS"), false));
    EXPECT_FALSE(RetriesOnTick(false, Refused(L"DEVICE_OFFLINE"), true)) << "a key being typed is not sent";
}

}  // namespace
}  // namespace ostrevane
