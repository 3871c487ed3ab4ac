#include "control/api_envelope.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ostrevane {
namespace {

std::string ParseError(const std::wstring& body) {
    try {
        ParseApiEnvelope(body);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

TEST(ParseApiEnvelope, ReadsTheFourMembers) {
    const ApiEnvelope envelope =
        ParseApiEnvelope(L" {\"success\":true,\"code\":\"OK\",\"message\":\"好\",\"data\":{\"connectionId\":\"c1\"}} ");
    EXPECT_TRUE(envelope.success);
    EXPECT_EQ(envelope.code, L"OK");
    EXPECT_EQ(envelope.message, L"好");
    ASSERT_NE(JsonFindAs<std::wstring>(envelope.data, L"connectionId"), nullptr);
    EXPECT_EQ(*JsonFindAs<std::wstring>(envelope.data, L"connectionId"), L"c1");
}

TEST(ParseApiEnvelope, MissingCodeAndMessageAreEmpty) {
    const ApiEnvelope envelope = ParseApiEnvelope(L"{\"success\":true,\"data\":{}}");
    EXPECT_TRUE(envelope.success);
    EXPECT_EQ(envelope.code, L"");
    EXPECT_EQ(envelope.message, L"");
    EXPECT_TRUE(std::holds_alternative<JsonObject>(envelope.data));
}

TEST(ParseApiEnvelope, OnlyTheLiteralTrueSucceeds) {
    EXPECT_FALSE(ParseApiEnvelope(L"{\"success\":\"true\"}").success);
    EXPECT_FALSE(ParseApiEnvelope(L"{\"success\":1}").success);
    EXPECT_FALSE(ParseApiEnvelope(L"{\"success\":false,\"message\":\"no\"}").success);
    EXPECT_FALSE(ParseApiEnvelope(L"{\"code\":7,\"message\":[]}").success);
    EXPECT_EQ(ParseApiEnvelope(L"{\"code\":7,\"message\":[]}").code, L"");
}

TEST(ParseApiEnvelope, TrailingTextIsIgnored) {
    const ApiEnvelope envelope = ParseApiEnvelope(L"{\"success\":true,\"message\":\"m\"}\r\n<html>trailing</html>");
    EXPECT_TRUE(envelope.success);
    EXPECT_EQ(envelope.message, L"m");
}

TEST(ParseApiEnvelope, NonJsonBodiesAreRefusalsWithEmptyTexts) {
    for (const wchar_t* body : {L"", L"   ", L"<html><body>502 Bad Gateway</body></html>", L"plain text", L"[1,2]",
                                L"\"just a string\"", L"42"}) {
        const ApiEnvelope envelope = ParseApiEnvelope(body);
        EXPECT_FALSE(envelope.success) << body;
        EXPECT_EQ(envelope.code, L"") << body;
        EXPECT_EQ(envelope.message, L"") << body;
        EXPECT_TRUE(std::holds_alternative<std::nullptr_t>(envelope.data)) << body;
    }
}

TEST(ParseApiEnvelope, MalformedJsonIsReported) {
    EXPECT_EQ(ParseError(L"{\"success\":true"), "Invalid JSON.");
    EXPECT_EQ(ParseError(L"[1 2]"), "Invalid JSON.");
    EXPECT_EQ(ParseError(L"{\"success"), "Invalid JSON string.");
}

TEST(IsRetryableAuthorizationError, RecognisesTheFiveCodesInAnyCase) {
    for (const wchar_t* code : {L"DEVICE_NOT_BOUND", L"TRAFFIC_QUOTA_EXCEEDED", L"CONCURRENT_LIMIT_EXCEEDED",
                                L"DEVICE_OFFLINE", L"DEVICE_RELAY_OFFLINE", L"device_offline", L"Device_Relay_Offline"}) {
        EXPECT_TRUE(IsRetryableAuthorizationError(code)) << code;
    }
    for (const wchar_t* code : {L"", L"DEVICE_OFFLINE ", L" DEVICE_OFFLINE", L"INVALID_KEY", L"DEVICE_OFFLINEX"}) {
        EXPECT_FALSE(IsRetryableAuthorizationError(code)) << code;
    }
}

}  // namespace
}  // namespace ostrevane
