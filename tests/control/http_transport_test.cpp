#include "control/http_transport.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ostrevane {
namespace {

TEST(CrackUrl, SplitsHostPortPathAndQuery) {
    const CrackedUrl plain = CrackUrl(L"http://127.0.0.1:18650");
    EXPECT_EQ(plain.host, L"127.0.0.1");
    EXPECT_EQ(plain.port, 18650);
    EXPECT_EQ(plain.path, L"/") << "a URL of scheme, host and port requests the root";
    EXPECT_FALSE(plain.secure);
    const CrackedUrl withQuery = CrackUrl(L"http://host:8080/api/relay/client/a%20b?engineerId=ENG-1");
    EXPECT_EQ(withQuery.path, L"/api/relay/client/a%20b?engineerId=ENG-1");
}

TEST(CrackUrl, UsesTheSchemeDefaultPorts) {
    const CrackedUrl secure = CrackUrl(L"https://control.example/api");
    EXPECT_TRUE(secure.secure);
    EXPECT_EQ(secure.port, 443);
    EXPECT_EQ(CrackUrl(L"http://control.example/").port, 80);
}

TEST(CrackUrl, ReportsAnUncrackableUrl) {
    try {
        CrackUrl(L"not a url");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("WinHttpCrackUrl", 0), 0u) << error.what();
    }
}

}  // namespace
}  // namespace ostrevane
