#include "settings/engineer_id.h"

#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <set>

namespace ostrevane {
namespace {

TEST(NewEngineerId, IsEngAndEightDigitsWithoutLeadingZero) {
    for (int i = 0; i < 200; ++i) {
        const std::wstring id = NewEngineerId();
        ASSERT_TRUE(settings_test::IsEngineerId(id)) << id.c_str();
    }
}

TEST(NewEngineerId, TheShapeCheckRefusesNearMisses) {
    for (const wchar_t* id : {L"ENG-01234567", L"ENG-1234567", L"ENG-123456789", L"ENX-12345678", L"ENG-1234567a", L""}) {
        EXPECT_FALSE(settings_test::IsEngineerId(id)) << id;
    }
    EXPECT_TRUE(settings_test::IsEngineerId(L"ENG-10000000"));
}

TEST(NewEngineerId, EachCallDrawsAFreshSeed) {
    // A deterministic random source would give the same id on every call.
    std::set<std::wstring> ids;
    for (int i = 0; i < 50; ++i) {
        ids.insert(NewEngineerId());
    }
    EXPECT_GT(ids.size(), 45u);
}

}  // namespace
}  // namespace ostrevane
