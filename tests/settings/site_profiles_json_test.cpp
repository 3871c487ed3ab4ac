#include "settings/site_profiles_json.h"

#include "settings/json_parser.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

std::vector<SiteProfile> ReadFrom(const std::wstring& document) {
    return ReadSiteProfiles(ParseJsonDocument(document), L"siteProfiles");
}

TEST(WriteSiteProfiles, EmptyListIsAPairOfBrackets) {
    EXPECT_EQ(WriteSiteProfiles({}), L"[]");
}

TEST(WriteSiteProfiles, WritesMembersInOrderWithoutBlanks) {
    const std::vector<SiteProfile> profiles = {
        {L"Plant-1", L" 10.0.0.5:8080/ ", L"D-1", L"k\"1", L"", {L"10.1.0.0/16", L"10.2.0.0/16"}},
        {L"\u4E8C\u53F7", L"http://h", L"", L"", L"10.8.0.0/16", {}},
    };
    EXPECT_EQ(WriteSiteProfiles(profiles),
              L"[{\"name\":\"Plant-1\",\"serverUrl\":\"http://10.0.0.5:8080\",\"deviceNumber\":\"D-1\","
              L"\"deviceSecret\":\"k\\\"1\",\"targetNetwork\":\"ALL\",\"sharedNetworks\":[\"10.1.0.0/16\",\"10.2.0.0/16\"]},"
              L"{\"name\":\"\u4E8C\u53F7\",\"serverUrl\":\"http://h\",\"deviceNumber\":\"\",\"deviceSecret\":\"\","
              L"\"targetNetwork\":\"10.8.0.0/16\",\"sharedNetworks\":[]}]");
}

TEST(ReadSiteProfiles, MissingOrNonArrayMemberGivesNoProfiles) {
    EXPECT_TRUE(ReadFrom(L"{}").empty());
    EXPECT_TRUE(ReadFrom(L"{\"siteProfiles\":{\"name\":\"a\"}}").empty());
    EXPECT_TRUE(ReadFrom(L"{\"siteProfiles\":\"[]\"}").empty());
    EXPECT_TRUE(ReadFrom(L"[{\"name\":\"a\"}]").empty());
}

TEST(ReadSiteProfiles, SkipsNonObjectsAndNamelessProfiles) {
    EXPECT_TRUE(ReadFrom(L"{\"siteProfiles\":[5,\"text\",{\"serverUrl\":\"x\"}]}").empty());
    const auto profiles = ReadFrom(L"{\"siteProfiles\":[null,{\"name\":\"\"},{\"name\":\"B\"},[],{\"name\":7},{\"name\":\"A\"}]}");
    ASSERT_EQ(profiles.size(), 2u);
    EXPECT_EQ(profiles[0].name, L"B");
    EXPECT_EQ(profiles[1].name, L"A");
}

TEST(ReadSiteProfiles, WrongTypedMembersTakeTheirDefaults) {
    const auto profiles = ReadFrom(
        L"{\"siteProfiles\":[{\"name\":\"A\",\"serverUrl\":1,\"deviceNumber\":true,\"deviceSecret\":null,"
        L"\"targetNetwork\":[],\"sharedNetworks\":\"10.1.0.0/16\"}]}");
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0], (SiteProfile{L"A", kDefaultServerUrl, L"", L"", L"ALL", {}}));
}

TEST(ReadSiteProfiles, KeepsStringsAndNormalisesTheUrl) {
    const auto profiles = ReadFrom(
        L"{\"siteProfiles\":[{\"name\":\"A\",\"serverUrl\":\" h:1/ \",\"deviceNumber\":\"D\",\"deviceSecret\":\"S\","
        L"\"targetNetwork\":\"\",\"sharedNetworks\":[\"n1\",2,\"n2\",null,\"\"]}]}");
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0], (SiteProfile{L"A", L"http://h:1", L"D", L"S", L"", {L"n1", L"n2", L""}}));
}

TEST(SiteProfilesRoundTrip, ReadingTheWrittenListGivesItBack) {
    const std::vector<SiteProfile> written = {
        {L"A", L"http://a:1", L"1", L"s\\1\r\n", L"", {L"10.1.0.0/16"}},
        {L"", L"http://b:2", L"2", L"s2", L"ALL", {}},
        {L"C\t\"\u4E2D", L"c:3/", L"3", L"s3", L"10.3.0.0/16", {L"10.3.0.0/16", L"x\"y"}},
    };
    const auto read = ReadSiteProfiles(ParseJsonDocument(L"{\"siteProfiles\":" + WriteSiteProfiles(written) + L"}"),
                                       L"siteProfiles");
    const std::vector<SiteProfile> expected = {
        {L"A", L"http://a:1", L"1", L"s\\1\r\n", L"ALL", {L"10.1.0.0/16"}},
        {L"C\t\"\u4E2D", L"http://c:3", L"3", L"s3", L"10.3.0.0/16", {L"10.3.0.0/16", L"x\"y"}},
    };
    EXPECT_EQ(read, expected);
}

}  // namespace
}  // namespace ostrevane
