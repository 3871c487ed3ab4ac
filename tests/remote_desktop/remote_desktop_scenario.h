// Scenarios for the remote-desktop tests: the demo site with a chosen remoteDesktop answer and
// download files, and the server description the demo hands out.
#pragma once

#include <string>

namespace ostrevane::testing {

// The servers of the demo answer, as a JSON object text; the download address is relative.
inline std::string DemoRemoteDesktopServer(const std::string& downloadUrl = "/downloads/rustdesk.exe") {
    return R"({"windowsDownloadUrl":")" + downloadUrl +
           R"(","rendezvousServer":"127.0.0.1:21116","relayServer":"127.0.0.1:21117",)"
           R"("apiServer":"http://127.0.0.1:21114","key":"ZGVtby1wdWJsaWMta2V5"})";
}

// The demo site SITE-0001 (access key OVK-DEMO-7F3A-2C91-5E08) answering with `remoteDesktop`.
inline std::string RemoteDesktopScenario(const std::string& remoteDesktop, const std::string& files = "{}",
                                         const std::string& rules = "[]") {
    return R"({"devices":[{"accessKey":"OVK-DEMO-7F3A-2C91-5E08","deviceNumber":"SITE-0001","deviceName":"演示现场",)"
           R"("sharedNetworks":["192.168.1.0/24"],"remoteDesktop":)" +
           remoteDesktop +
           R"(},{"accessKey":"OVK-DEMO-WAREHOUSE-41D7","deviceNumber":"SITE-0002","sharedNetworks":["172.16.5.0/24"]}],)"
           R"("rules":)" + rules + R"(,"files":)" + files + "}";
}

// The text RustDesk2.toml must hold for DemoRemoteDesktopServer.
inline const char kDemoRustDeskConfig[] =
    "rendezvous_server = '127.0.0.1:21116'\n"
    "\n"
    "[options]\n"
    "custom-rendezvous-server = '127.0.0.1:21116'\n"
    "relay-server = '127.0.0.1:21117'\n"
    "key = 'ZGVtby1wdWJsaWMta2V5'\n"
    "api-server = 'http://127.0.0.1:21114'\n";

}  // namespace ostrevane::testing
