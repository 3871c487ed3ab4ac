#include "control/proxy_bypass.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "control/proxy_bypass_patterns.h"
#include "platform/unique_handle.h"
#include "support/state_guards.h"

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

TEST(ProxyOverrideList, ChangesNameTheEntriesAddedOrTakenOut) {
    EXPECT_EQ(MergeBypassPatterns({L"10.*"}, {L"10.*", L"192.168.1.*"}).affected, (Texts{L"192.168.1.*"}));
    EXPECT_EQ(RemoveBypassPatterns({L"a", L"10.*", L"B"}, {L"b", L"10.*"}).affected, (Texts{L"10.*", L"B"}));
}

// ProxyOverride and the client's record as a test finds and leaves them: the guard clears the
// record and restores both afterwards.
class ProxyRegistryTest : public ::testing::Test {
protected:
    static void DeleteProxyOverride() { DeleteRegistryValue(HKEY_CURRENT_USER, kInternetSettingsKey, L"ProxyOverride"); }
    static void WriteRawProxyOverride(DWORD type, const void* data, DWORD size) {
        UniqueRegistryKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), L"ProxyOverride", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    struct RawValue {
        DWORD type = REG_NONE;
        std::string bytes;
        bool operator==(const RawValue&) const = default;
    };
    static RawValue ReadRawProxyOverride() {
        RawValue value;
        UniqueRegistryKey key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
            DWORD size = 0;
            RegQueryValueExW(key.get(), L"ProxyOverride", nullptr, &value.type, nullptr, &size);
            value.bytes.resize(size);
            RegQueryValueExW(key.get(), L"ProxyOverride", nullptr, &value.type,
                             reinterpret_cast<BYTE*>(value.bytes.data()), &size);
        }
        return value;
    }
    static RegistryTextState ProxyOverrideState() { return ReadProxyOverrideValue().state; }

    testing::ProxyOverrideGuard guard_;
};

TEST_F(ProxyRegistryTest, AddWritesNormalisedListAndRecordsOnlyWhatItAdded) {
    WriteProxyOverride(L" *.local ;;<local>;10.20.*");
    EXPECT_EQ(AddProxyBypass({L"192.168.1.0/24", L"10.20.0.0/16", L"ALL"}), L"已加入系统代理旁路：192.168.1.*;10.20.*");
    EXPECT_EQ(ReadProxyOverride(), L"*.local;<local>;10.20.*;192.168.1.*");
    EXPECT_EQ(ReadRawProxyOverride().type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ReadProxyBypassRecord(), (Texts{L"192.168.1.*"})) << "10.20.* was the user's";
}

TEST_F(ProxyRegistryTest, AddLeavesTheValueAloneWhenEveryPatternIsPresent) {
    const std::wstring untouched = L"*.local;;192.168.1.*";
    WriteProxyOverride(untouched);
    EXPECT_EQ(AddProxyBypass({L"192.168.1.0/24"}), L"已加入系统代理旁路：192.168.1.*");
    EXPECT_EQ(ReadProxyOverride(), untouched) << "an unchanged list must not be rewritten";
    EXPECT_TRUE(ReadProxyBypassRecord().empty());
    EXPECT_EQ(RemoveProxyBypass(), L"");
    EXPECT_EQ(ReadProxyOverride(), untouched) << "the user's own entry survives the removal";
}

TEST_F(ProxyRegistryTest, AddWithoutPatternsTouchesNothing) {
    WriteProxyOverride(L"x;;y");
    EXPECT_EQ(AddProxyBypass({L"ALL", L"0.0.0.0/0"}), L"");
    EXPECT_EQ(ReadProxyOverride(), L"x;;y");
}

TEST_F(ProxyRegistryTest, AddCreatesTheValueWhenAbsentAndRemovalEmptiesIt) {
    DeleteProxyOverride();
    ASSERT_EQ(ProxyOverrideState(), RegistryTextState::Absent);
    EXPECT_EQ(AddProxyBypass({L"10.0.0.0/8"}), L"已加入系统代理旁路：10.*");
    EXPECT_EQ(ReadProxyOverride(), L"10.*");
    EXPECT_EQ(RemoveProxyBypass(), L"已移除系统代理旁路：10.*");
    EXPECT_EQ(ReadProxyOverrideValue().state, RegistryTextState::Text);
    EXPECT_EQ(ReadProxyOverride(), L"");
}

TEST_F(ProxyRegistryTest, RemoveTakesOutOnlyRecordedEntriesWhateverTheRoutesAreNow) {
    WriteProxyOverride(L"a.example;192.168.1.*");
    AddProxyBypass({L"192.168.1.0/24", L"10.0.0.0/8"});
    // Entries that came in between, the user's or another program's, stay in their places.
    WriteProxyOverride(ReadProxyOverride() + L"; <local> ;工程.example");
    EXPECT_EQ(RemoveProxyBypass(), L"已移除系统代理旁路：10.*");
    EXPECT_EQ(ReadProxyOverride(), L"a.example;192.168.1.*;<local>;工程.example");
    EXPECT_TRUE(ReadProxyBypassRecord().empty());
    EXPECT_EQ(RemoveProxyBypass(), L"") << "a second removal has nothing left to take out";
}

TEST_F(ProxyRegistryTest, AnEntryTheUserRemovedMeanwhileIsForgotten) {
    WriteProxyOverride(L"a.example");
    AddProxyBypass({L"10.0.0.0/8"});
    WriteProxyOverride(L"a.example ; b.example");
    EXPECT_EQ(RemoveProxyBypass(), L"");
    EXPECT_EQ(ReadProxyOverride(), L"a.example ; b.example") << "nothing to take out: not rewritten";
    EXPECT_TRUE(ReadProxyBypassRecord().empty());
}

TEST_F(ProxyRegistryTest, RecordsOfSeveralAddsAddUp) {
    WriteProxyOverride(L"");
    AddProxyBypass({L"10.0.0.0/8"});
    AddProxyBypass({L"10.0.0.0/8", L"172.16.0.0/16"});
    EXPECT_EQ(ReadProxyBypassRecord(), (Texts{L"10.*", L"172.16.*"}));
    EXPECT_EQ(RemoveProxyBypass(), L"已移除系统代理旁路：10.*;172.16.*");
}

TEST_F(ProxyRegistryTest, AValueThatIsNotTextIsNeverWritten) {
    const DWORD number = 7;
    const wchar_t expandable[] = L"%USERDNSDOMAIN%;a.example";
    const wchar_t embeddedNul[] = L"a.example\0b.example";
    const struct {
        DWORD type;
        const void* data;
        DWORD size;
    } values[] = {{REG_DWORD, &number, sizeof number},
                  {REG_EXPAND_SZ, expandable, sizeof expandable},
                  {REG_MULTI_SZ, embeddedNul, sizeof embeddedNul},
                  {REG_SZ, embeddedNul, sizeof embeddedNul}};
    for (const auto& value : values) {
        WriteRawProxyOverride(value.type, value.data, value.size);
        const RawValue before = ReadRawProxyOverride();
        EXPECT_EQ(ProxyOverrideState(), RegistryTextState::Unreadable) << value.type;
        EXPECT_EQ(AddProxyBypass({L"10.0.0.0/8"}), kProxyOverrideUnreadable) << value.type;
        EXPECT_TRUE(ReadProxyBypassRecord().empty()) << value.type;
        EXPECT_EQ(ReadRawProxyOverride(), before) << value.type;
    }
}

TEST_F(ProxyRegistryTest, RemovalLeavesAnUnreadableValueAndKeepsTheRecord) {
    WriteProxyOverride(L"");
    AddProxyBypass({L"10.0.0.0/8"});
    const DWORD number = 7;
    WriteRawProxyOverride(REG_DWORD, &number, sizeof number);
    EXPECT_EQ(RemoveProxyBypass(), kProxyOverrideUnreadable);
    EXPECT_EQ(ReadRawProxyOverride().type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(ReadProxyBypassRecord(), (Texts{L"10.*"})) << "kept for a later removal";
}

}  // namespace
}  // namespace ostrevane
