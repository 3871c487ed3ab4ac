// The record of everything the client keeps between runs and last learned about the current
// site, and the saved site profiles it carries. `ClientState{}` is the state at start-up.
#pragma once

#include <string>
#include <vector>

#include "settings/text_utils.h"

namespace ostrevane {

// A saved, named set of connection settings for one site.
struct SiteProfile {
    std::wstring name;
    std::wstring serverUrl;
    std::wstring deviceNumber;
    std::wstring deviceSecret;   // the site's access key
    std::wstring targetNetwork;  // a network, or "ALL"
    std::vector<std::wstring> sharedNetworks;

    bool operator==(const SiteProfile&) const = default;
};

// Field order is the order of the lines in the settings file.
struct ClientState {
    std::wstring serverUrl = kDefaultServerUrl;  // always in NormalizeServerUrl form
    std::wstring deviceNumber;
    std::wstring deviceSecret;  // the access key
    std::wstring deviceName;
    std::wstring profileName;
    std::wstring networkInterfaceName;
    std::wstring sharedNetworksText = L"192.168.1.0/24";
    std::wstring targetNetwork = L"192.168.1.0/24";
    std::wstring engineerId;
    std::wstring rustDeskPath;
    std::wstring rustDeskAccessPassword;
    std::wstring rustDeskId;
    bool rustDeskServiceRunning = false;
    std::wstring connectionId;
    std::wstring assignedAddress;
    std::wstring routesText;  // one network per line, lines joined by "\r\n"
    std::wstring testIp;
    std::wstring latencyText = L"未测试";
    bool heartbeatAccepted = false;
    std::wstring heartbeatMessage;  // error code of the last refused authorization
    std::vector<SiteProfile> siteProfiles;  // newest first

    bool operator==(const ClientState&) const = default;
};

}  // namespace ostrevane
