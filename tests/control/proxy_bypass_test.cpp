#include "control/proxy_bypass.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "control/proxy_bypass_patterns.h"
#include "platform/unique_handle.h"

namespace ostrevane {
namespace {

using Texts = std::vector<std::wstring>;

TEST(BypassPatterns, WidenPrefixesToWholeBytes) {
    EXPECT_EQ(NetworkToBypassPattern(L"192.168.1.0/24"), L"192.168.1.*");
    EXPECT_EQ(NetworkToBypassPattern(L"10.1.2.128/25"), L"10.1.2.*");
    EXPECT_EQ(NetworkToBypassPattern(L"10.0.0.0/8"), L"10.*");
    EXPECT_EQ(NetworkToBypassPattern(L"172.16.9.9/12"), L"172.*");
    EXPECT_EQ(NetworkToBypassPattern(L"10.20.0.0/16"), L"10.20.*");
    EXPECT_EQ(NetworkToBypassPattern(L"192.168.1.7/32"), L"192.168.1.7");
    EXPECT_EQ(NetworkToBypassPattern(L" 192.168.1.7 / 32 "), L"192.168.1.7");
    EXPECT_EQ(NetworkToBypassPattern(L"10.0.0.0/0024"), L"10.0.0.*");
}

TEST(BypassPatterns, GiveNothingForShortPrefixesAndNonNetworks) {
    for (const wchar_t* text : {L"0.0.0.0/0", L"172.16.0.0/4", L"192.168.1.7", L"ALL", L"host/24", L"10.0.0.0/33",
                                L"10.0.0.0/-8", L"10.0.0.0/+8", L"10.0.0.0/", L"10.0.0.0/8x", L"",
                                L"10.0.0.0/99999999999999999999999"}) {
        EXPECT_EQ(NetworkToBypassPattern(text), L"") << text;
    }
}

TEST(BypassPatterns, AreDeduplicatedWithoutRegardToCase) {
    EXPECT_EQ(BypassPatternsForRoutes({L"192.168.1.0/24", L"192.168.1.128/25", L"ALL", L"10.0.0.0/8"}),
              (Texts{L"192.168.1.*", L"10.*"}));
}

TEST(ProxyOverrideList, SplitsTrimsAndDropsEmptyEntries) {
    EXPECT_EQ(SplitProxyOverride(L" *.local ;; 192.168.1.*;<local>; "), (Texts{L"*.local", L"192.168.1.*", L"<local>"}));
    EXPECT_TRUE(SplitProxyOverride(L"").empty());
    EXPECT_TRUE(SplitProxyOverride(L" ; ;").empty());
}

TEST(ProxyOverrideList, MergeAppendsOnlyMissingPatterns) {
    const auto same = MergeBypassPatterns({L"*.local", L"192.168.1.*"}, {L"192.168.1.*"});
    EXPECT_FALSE(same.changed);
    const auto added = MergeBypassPatterns({L"*.local", L"10.*"}, {L"10.*", L"192.168.1.*"});
    EXPECT_TRUE(added.changed);
    EXPECT_EQ(added.entries, (Texts{L"*.local", L"10.*", L"192.168.1.*"}));
}

TEST(ProxyOverrideList, RemoveKeepsForeignEntriesInOrder) {
    const auto removed = RemoveBypassPatterns({L"a.example", L"192.168.1.*", L"<local>", L"10.*"}, {L"10.*", L"192.168.1.*"});
    EXPECT_TRUE(removed.changed);
    EXPECT_EQ(removed.entries, (Texts{L"a.example", L"<local>"}));
    EXPECT_FALSE(RemoveBypassPatterns({L"a.example"}, {L"10.*"}).changed);
}

// Saves the user's ProxyOverride value before a test and puts it back afterwards.
class ProxyRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { original_ = ReadRaw(); }
    void TearDown() override {
        if (original_) {
            WriteProxyOverride(*original_);
        } else {
            DeleteProxyOverride();
        }
    }
    static void DeleteProxyOverride() {
        UniqueRegistryKey key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
            RegDeleteValueW(key.get(), L"ProxyOverride");
        }
    }
    static std::optional<std::wstring> ReadRaw() {
        UniqueRegistryKey key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), L"ProxyOverride", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return ReadProxyOverride();
    }
    static DWORD ValueType() {
        DWORD type = REG_NONE;
        UniqueRegistryKey key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
            RegQueryValueExW(key.get(), L"ProxyOverride", nullptr, &type, nullptr, nullptr);
        }
        return type;
    }
    std::optional<std::wstring> original_;
};

TEST_F(ProxyRegistryTest, AddWritesNormalisedListAndReportsThePatterns) {
    WriteProxyOverride(L" *.local ;;<local>");
    EXPECT_EQ(AddProxyBypass({L"192.168.1.0/24", L"10.20.0.0/16", L"ALL"}), L"已加入系统代理旁路：192.168.1.*;10.20.*");
    EXPECT_EQ(ReadProxyOverride(), L"*.local;<local>;192.168.1.*;10.20.*");
    EXPECT_EQ(ValueType(), static_cast<DWORD>(REG_SZ));
}

TEST_F(ProxyRegistryTest, AddLeavesTheValueAloneWhenEveryPatternIsPresent) {
    const std::wstring untouched = L"*.local;;192.168.1.*";
    WriteProxyOverride(untouched);
    EXPECT_EQ(AddProxyBypass({L"192.168.1.0/24"}), L"已加入系统代理旁路：192.168.1.*");
    EXPECT_EQ(ReadProxyOverride(), untouched) << "an unchanged list must not be rewritten";
}

TEST_F(ProxyRegistryTest, AddWithoutPatternsTouchesNothing) {
    WriteProxyOverride(L"x;;y");
    EXPECT_EQ(AddProxyBypass({L"ALL", L"0.0.0.0/0"}), L"");
    EXPECT_EQ(ReadProxyOverride(), L"x;;y");
}

TEST_F(ProxyRegistryTest, AddCreatesTheValueWhenAbsent) {
    DeleteProxyOverride();  // whatever the prefix held before, no value at all
    ASSERT_FALSE(ReadRaw().has_value());
    EXPECT_EQ(AddProxyBypass({L"10.0.0.0/8"}), L"已加入系统代理旁路：10.*");
    EXPECT_EQ(ReadProxyOverride(), L"10.*");
}

TEST_F(ProxyRegistryTest, RemoveTakesOutOnlyOurEntries) {
    WriteProxyOverride(L"a.example;192.168.1.*; <local> ;10.*");
    EXPECT_EQ(RemoveProxyBypass({L"192.168.1.0/24", L"10.0.0.0/8", L"172.16.0.0/16"}),
              L"已移除系统代理旁路：192.168.1.*;10.*;172.16.*");
    EXPECT_EQ(ReadProxyOverride(), L"a.example;<local>");
}

TEST_F(ProxyRegistryTest, RemovingAnAbsentPatternChangesNothing) {
    WriteProxyOverride(L"a.example ; b.example");
    EXPECT_EQ(RemoveProxyBypass({L"192.168.1.0/24"}), L"");
    EXPECT_EQ(ReadProxyOverride(), L"a.example ; b.example");
}

TEST_F(ProxyRegistryTest, RemovingTheLastEntryWritesAnEmptyString) {
    WriteProxyOverride(L"192.168.1.*");
    EXPECT_EQ(RemoveProxyBypass({L"192.168.1.0/24"}), L"已移除系统代理旁路：192.168.1.*");
    EXPECT_EQ(ReadRaw(), std::optional<std::wstring>(L""));
    EXPECT_EQ(ValueType(), static_cast<DWORD>(REG_SZ));
}

TEST_F(ProxyRegistryTest, ChineseEntriesSurvive) {
    WriteProxyOverride(L"工程.example;192.168.1.*");
    RemoveProxyBypass({L"192.168.1.0/24"});
    EXPECT_EQ(ReadProxyOverride(), L"工程.example");
}

}  // namespace
}  // namespace ostrevane
