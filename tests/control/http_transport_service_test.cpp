// The HTTP layer against the reference service: what goes on the wire, and how answers and
// failures come back.
#include "control/http_transport.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/unique_handle.h"
#include "settings/text_utils.h"
#include "support/demo_scenario.h"
#include "support/reference_service.h"
#include "support/test_files.h"

namespace ostrevane::testing {
namespace {

struct RecordedRequest {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string Header(const std::string& name) const {
        for (const auto& [key, value] : headers) {
            if (EqualsIgnoringCase(Utf8ToWide(key), Utf8ToWide(name))) {
                return value;
            }
        }
        return "<absent>";
    }
};

RecordedRequest LastRequest() {
    const JsonValue data = ServiceData(L"GET", L"/admin/requests");
    const auto* list = std::get_if<JsonArray>(&data);
    if (list == nullptr || list->empty()) {
        ADD_FAILURE() << "no request was recorded";
        return {};
    }
    const JsonValue& last = list->back();
    RecordedRequest request;
    request.requestLine = JsonText(last, L"requestLine");
    request.body = JsonText(last, L"body");
    if (const auto* headers = JsonFindAs<JsonArray>(last, L"headers")) {
        for (const JsonValue& pair : *headers) {
            const auto* items = std::get_if<JsonArray>(&pair);
            if (items && items->size() == 2 && std::holds_alternative<std::wstring>((*items)[0]) &&
                std::holds_alternative<std::wstring>((*items)[1])) {
                request.headers.emplace_back(WideToUtf8(std::get<std::wstring>((*items)[0])),
                                             WideToUtf8(std::get<std::wstring>((*items)[1])));
            }
        }
    }
    return request;
}

std::string TransportError(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

class HttpTransportTest : public ::testing::Test {
protected:
    void SetUp() override { ServiceData(L"POST", L"/admin/reset", "{}"); }
    void TearDown() override { ServiceData(L"POST", L"/admin/reset", "{}"); }
};

TEST_F(HttpTransportTest, PostsJsonWithTheFixedHeaders) {
    const ApiEnvelope envelope =
        PostJson(ServiceUrl() + L"/", L"/api/devices/resolve", L"{\"deviceSecret\":\"OVK-DEMO-7F3A-2C91-5E08\"}");
    EXPECT_TRUE(envelope.success);
    const RecordedRequest request = LastRequest();
    EXPECT_EQ(request.requestLine, "POST /api/devices/resolve HTTP/1.1");
    EXPECT_EQ(request.Header("User-Agent"), "Ostrevane.Native/0.2");
    EXPECT_EQ(request.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(request.body, "{\"deviceSecret\":\"OVK-DEMO-7F3A-2C91-5E08\"}");
}

TEST_F(HttpTransportTest, AnEmptyBodySendsNoContentType) {
    const HttpResponse response = SendHttpRequest(L"POST", ServiceUrl() + L"/api/devices/resolve", L"");
    EXPECT_EQ(response.status, 400u);
    const RecordedRequest request = LastRequest();
    EXPECT_EQ(request.Header("Content-Type"), "<absent>");
    EXPECT_EQ(request.body, "");
}

TEST_F(HttpTransportTest, ChineseBodiesTravelAsUtf8) {
    PostJson(ServiceUrl(), L"/api/devices/resolve", L"{\"deviceSecret\":\"密钥\"}");
    EXPECT_EQ(LastRequest().body, "{\"deviceSecret\":\"\xE5\xAF\x86\xE9\x92\xA5\"}");
}

TEST_F(HttpTransportTest, TheEnvelopeDecidesNotTheStatus) {
    PostScenario(DemoScenario(
        R"([{"path":"/api/devices/resolve","count":1,"status":500,"code":"BROKEN","message":"服务故障"},)"
        R"({"path":"/api/devices/resolve","count":1,"rawBody":"","contentType":"text/plain"},)"
        R"({"path":"/api/devices/resolve","count":1,"status":502,"rawBody":"<html><body>Bad Gateway</body></html>","contentType":"text/html"},)"
        R"({"path":"/api/devices/resolve","count":1,"rawBody":"{\"success\":tr","contentType":"application/json"}])"));
    const std::wstring url = ServiceUrl();
    const std::wstring body = L"{\"deviceSecret\":\"x\"}";
    const ApiEnvelope refused = PostJson(url, L"/api/devices/resolve", body);
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.code, L"BROKEN");
    EXPECT_EQ(refused.message, L"服务故障");
    for (int i = 0; i < 2; ++i) {
        const ApiEnvelope empty = PostJson(url, L"/api/devices/resolve", body);
        EXPECT_FALSE(empty.success);
        EXPECT_EQ(empty.message, L"");
    }
    EXPECT_EQ(TransportError([&] { PostJson(url, L"/api/devices/resolve", body); }), "Invalid JSON.");
}

TEST_F(HttpTransportTest, FailuresNameTheFailedStep) {
    const std::string dead = TransportError([] { SendHttpRequest(L"POST", L"http://127.0.0.1:9/api", L"{}"); });
    EXPECT_EQ(dead.rfind("WinHttpReceiveResponse", 0), 0u) << dead;

    PostFault(R"({"name":"delay-http","ms":4000,"count":1})");
    HttpTimeouts quick;
    quick.receiveMs = 1000;  // keeps the test short; the product waits 30 s
    const std::string silent = TransportError([&] {
        SendHttpRequest(L"POST", ServiceUrl() + L"/api/devices/resolve", L"{\"deviceSecret\":\"x\"}", quick);
    });
    EXPECT_EQ(silent.rfind("WinHttpReceiveResponse", 0), 0u) << silent;
}

class DownloadTest : public HttpTransportTest {
protected:
    void SetUp() override {
        HttpTransportTest::SetUp();
        PostScenario(DemoScenario("[]", R"({"/files/ok.bin":{"size":300000,"prefix":"MZ"},)"
                                        R"("/files/missing.bin":{"status":404,"body":"<html>missing</html>"},)"
                                        R"("/files/cut.bin":{"size":300000,"truncateAt":100000}})"));
    }
    TempDirectory folder_;
};

TEST_F(DownloadTest, SuccessReplacesTheDestination) {
    const std::wstring destination = folder_ / L"sub\\rustdesk.exe";
    ASSERT_TRUE(DownloadToFile(ServiceUrl() + L"/files/ok.bin", destination));
    const auto bytes = ReadFileBytes(destination);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 300000u);
    EXPECT_EQ(bytes->substr(0, 2), "MZ");
    EXPECT_EQ(static_cast<unsigned char>((*bytes)[1000]), 1000 % 251);
    EXPECT_FALSE(ReadFileBytes(destination + L".download")) << "no temporary file remains";
}

TEST_F(DownloadTest, NotFoundWritesNothing) {
    const std::wstring destination = folder_ / L"rustdesk.exe";
    EXPECT_FALSE(DownloadToFile(ServiceUrl() + L"/files/missing.bin", destination));
    EXPECT_FALSE(ReadFileBytes(destination));
    EXPECT_FALSE(ReadFileBytes(destination + L".download"));
}

TEST_F(DownloadTest, AnInterruptedTransferKeepsTheOldFile) {
    const std::wstring destination = folder_ / L"rustdesk.exe";
    ASSERT_TRUE(WriteFileBytes(destination, "old build"));
    EXPECT_FALSE(DownloadToFile(ServiceUrl() + L"/files/cut.bin", destination));
    EXPECT_EQ(ReadFileBytes(destination), std::optional<std::string>("old build"));
    EXPECT_FALSE(ReadFileBytes(destination + L".download")) << "the partial download is deleted";
}

TEST_F(DownloadTest, AFailedFinalMoveIsAFailedDownloadEvenWithAFileInPlace) {
    const std::wstring destination = folder_ / L"rustdesk.exe";
    ASSERT_TRUE(WriteFileBytes(destination, "old build"));
    // Held open without delete sharing, the old file cannot be replaced.
    UniqueFileHandle holder(CreateFileW(destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(DownloadToFile(ServiceUrl() + L"/files/ok.bin", destination));
    holder.reset();
    EXPECT_EQ(ReadFileBytes(destination), std::optional<std::string>("old build"));
    EXPECT_FALSE(ReadFileBytes(destination + L".download")) << "the unplaced download is deleted";
}

}  // namespace
}  // namespace ostrevane::testing
