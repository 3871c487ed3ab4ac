#include "support/demo_scenario.h"

namespace ostrevane::testing {

std::string DemoScenario(const std::string& rules, const std::string& files) {
    return R"({"addressPool":"100.64.0.0/16","devices":[{"accessKey":"OVK-DEMO-7F3A-2C91-5E08","deviceNumber":"SITE-0001",)"
           R"("deviceName":"演示现场","sharedNetworks":["192.168.1.0/24","10.20.0.0/16"],"remoteDesktop":{"rustDeskId":"318 402 775",)"
           R"("accessPassword":"demo-8842","server":{"windowsDownloadUrl":"{baseUrl}/downloads/rustdesk.exe",)"
           R"("rendezvousServer":"127.0.0.1:21116","relayServer":"127.0.0.1:21117","apiServer":"http://127.0.0.1:21114",)"
           R"("key":"ZGVtby1wdWJsaWMta2V5"}}},{"accessKey":"OVK-DEMO-WAREHOUSE-41D7","deviceNumber":"SITE-0002",)"
           R"("deviceName":"仓库现场","sharedNetworks":["172.16.5.0/24"],"maxConnections":1}],"rules":)" +
           rules + R"(,"files":)" + files + "}";
}

}  // namespace ostrevane::testing
