// WinHTTP against the reference service in TLS mode with a certificate that must be refused
// (ctest runs it once per such certificate; skipped otherwise): the control API call fails and
// its request never reaches the service.
#include <gtest/gtest.h>

#include <thread>

#include "control/http_transport.h"
#include "support/service_client.h"

namespace ostrevane::testing {
namespace {

TEST(HttpsRefusal, ARefusedCertificateFailsTheCallBeforeTheRequestLeaves) {
    if (CertificateToRefuse().empty()) {
        GTEST_SKIP() << "runs against the TLS service with a certificate to refuse";
    }
    std::string error = "no error";
    try {
        PostJson(ServiceUrl(), L"/api/devices/resolve", L"{\"deviceSecret\":\"OVK-DEMO-7F3A-2C91-5E08\"}");
    } catch (const std::runtime_error& failure) {
        error = failure.what();
    }
    EXPECT_TRUE(error.starts_with("WinHttpReceiveResponse")) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(RequestLogSize(), 0u);
}

}  // namespace
}  // namespace ostrevane::testing
