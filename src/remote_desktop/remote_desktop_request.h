// The remote-desktop request to the control service and what the client makes of its answer:
// the path and body sent, the session read from the answer's data, and the final status line.
// No Win32 here.
#pragma once

#include <optional>
#include <string>

#include "settings/json_value.h"

namespace ostrevane {

// "/api/devices/<percent-encoded number>/remote-desktop/session"
std::wstring RemoteDesktopSessionPath(const std::wstring& deviceNumber);

// {"deviceNumber":"N","deviceSecret":"S","engineerId":"E"} with the three values escaped.
std::wstring RemoteDesktopSessionBody(const std::wstring& deviceNumber, const std::wstring& deviceSecret,
                                      const std::wstring& engineerId);

struct RemoteDesktopSession {
    std::wstring rustDeskId;              // empty when missing or not a string
    std::wstring accessPassword;          // empty when missing or not a string
    std::optional<JsonValue> server;      // the server description as sent, when the member exists
};

RemoteDesktopSession ReadRemoteDesktopSession(const JsonValue& data);

// "远程桌面已打开：" and the id, then the password note: copied, copy failed, or "。" without one.
std::wstring RemoteDesktopOpenedMessage(const std::wstring& rustDeskId, bool hasPassword, bool passwordCopied);

}  // namespace ostrevane
