#include "remote_desktop/remote_desktop_request.h"

#include "settings/text_utils.h"

namespace ostrevane {
std::wstring RemoteDesktopSessionPath(const std::wstring& deviceNumber) {
    return L"/api/devices/" + PercentEncode(deviceNumber) + L"/remote-desktop/session";
}

std::wstring RemoteDesktopSessionBody(const std::wstring& deviceNumber, const std::wstring& deviceSecret,
                                      const std::wstring& engineerId) {
    return L"{\"deviceNumber\":\"" + JsonEscape(deviceNumber) + L"\",\"deviceSecret\":\"" + JsonEscape(deviceSecret) +
           L"\",\"engineerId\":\"" + JsonEscape(engineerId) + L"\"}";
}

RemoteDesktopSession ReadRemoteDesktopSession(const JsonValue& data) {
    RemoteDesktopSession session;
    session.rustDeskId = JsonStringOr(data, L"rustDeskId");
    session.accessPassword = JsonStringOr(data, L"accessPassword");
    if (const JsonValue* server = JsonFind(data, L"server")) {
        session.server = *server;
    }
    return session;
}

std::wstring RemoteDesktopOpenedMessage(const std::wstring& rustDeskId, bool hasPassword, bool passwordCopied) {
    std::wstring message = L"远程桌面已打开：" + rustDeskId;
    if (!hasPassword) {
        return message + L"。";
    }
    return message + (passwordCopied ? L"，访问密码已复制。" : L"，访问密码复制失败，请手动复制。");
}

}  // namespace ostrevane
