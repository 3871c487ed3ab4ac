#include "remote_desktop/remote_desktop_session.h"

#include <vector>

#include "control/http_transport.h"
#include "remote_desktop/clipboard.h"
#include "remote_desktop/launch_program.h"
#include "remote_desktop/locate_rustdesk.h"
#include "remote_desktop/password_paster.h"
#include "remote_desktop/remote_desktop_request.h"
#include "remote_desktop/rustdesk_config.h"
#include "settings/engineer_id.h"
#include "settings/settings_file.h"

namespace ostrevane {

void OpenRemoteDesktop(ClientState& snapshot, EngineSlot /*engine*/, std::wstring& message) {
    if (snapshot.engineerId.empty()) {
        snapshot.engineerId = NewEngineerId();
    }
    const ApiEnvelope reply =
        PostJson(snapshot.serverUrl, RemoteDesktopSessionPath(snapshot.deviceNumber),
                 RemoteDesktopSessionBody(snapshot.deviceNumber, snapshot.deviceSecret, snapshot.engineerId));
    if (!reply.success) {
        message = L"远程桌面失败：" + reply.message;
        return;
    }
    const RemoteDesktopSession session = ReadRemoteDesktopSession(reply.data);
    const JsonValue* server = session.server ? &*session.server : nullptr;

    std::wstring problem;
    const std::wstring executable = LocateRustDesk(snapshot, server, &problem);
    if (executable.empty()) {
        message = problem.empty() ? L"未找到 RustDesk 程序。" : problem;
        return;
    }
    if (server != nullptr) {
        ConfigureRustDesk(*server);
    }

    const bool hasPassword = !session.accessPassword.empty();
    const bool copied = !hasPassword || CopySecretToClipboard(nullptr, session.accessPassword);
    std::vector<std::wstring> arguments;
    if (!session.rustDeskId.empty()) {
        arguments = {L"--connect", session.rustDeskId};
    }
    LaunchProgram(executable, arguments);
    if (hasPassword && copied) {
        // The paster takes the password off the clipboard when it is done; should it not start,
        // the password stays there for the engineer to paste by hand.
        StartPasswordPaster({session.accessPassword, session.rustDeskId, executable, {}});
    }

    snapshot.rustDeskPath = executable;
    SaveClientState(snapshot);
    message = RemoteDesktopOpenedMessage(session.rustDeskId, hasPassword, hasPassword && copied);
}

}  // namespace ostrevane
