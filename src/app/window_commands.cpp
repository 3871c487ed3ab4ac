#include "app/window_commands.h"

#include <system_error>

#include "app/activity_log.h"
#include "app/display_text.h"
#include "app/retry_rule.h"
#include "app/window_controls.h"
#include "control/connect_operations.h"
#include "control/latency_test.h"
#include "control/session_end.h"
#include "remote_desktop/clipboard.h"
#include "remote_desktop/remote_desktop_session.h"
#include "settings/control_text.h"
#include "settings/settings_file.h"
#include "settings/site_profiles.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

using namespace control_id;

struct WorkerCommand {
    int id;
    const wchar_t* status;
    WorkerOperation operation;
};

constexpr WorkerCommand kWorkerCommands[] = {
    {kConnect, L"正在请求连接授权...", ConnectOperation},
    {kGetNetworks, L"正在获取现场端网段...", ResolveDevice},
    {kDesktop, L"正在请求远程桌面...", OpenRemoteDesktop},
    {kDisconnect, L"正在停止软件隧道...", DisconnectOperation},
    {kTest, L"正在测试通讯延迟...", RunLatencyTest},
};

void Repaint(const MainWindow& record) { InvalidateRect(record.window, nullptr, TRUE); }

void ArmOrDisarmRetry(MainWindow& record) {
    if (ArmsAuthorizationRetry(record.state)) {
        if (!record.retryTimerArmed) {
            SetTimer(record.window, kRetryTimerId, kRetryPeriodMs, nullptr);
            record.retryTimerArmed = true;
            ShowStatus(record, kRetryAnnouncement);
        }
        return;
    }
    KillTimer(record.window, kRetryTimerId);
    record.retryTimerArmed = false;
}

// The key box holds the focus and a text other than the key of the refused connect: the
// engineer is typing a new key, and a half-typed key must not be sent.
bool AccessKeyBeingEdited(const MainWindow& record) {
    HWND box = record.Control(kAccessKey);
    return box != nullptr && GetFocus() == box && TrimWhitespace(ReadControlText(box)) != record.state.deviceSecret;
}

}  // namespace

void LogActivity(MainWindow& record, const std::wstring& text) { AppendActivityLog(record.Control(kActivityLog), text); }

void ShowStatus(MainWindow& record, const std::wstring& text) {
    SetWindowTextW(record.Control(kStatusLine), StatusLineOf(text).c_str());
    LogActivity(record, text);
}

void SetBusy(MainWindow& record, bool busy) {
    record.busy.store(busy);
    for (int id : kBusyControls) {
        EnableWindow(record.Control(id), busy ? FALSE : TRUE);
    }
}

void StartWorker(MainWindow& record, const std::wstring& status, WorkerOperation operation) {
    if (record.busy.exchange(true)) {
        return;
    }
    if (record.worker.joinable()) {
        record.worker.join();
    }
    ReadControlsIntoState(record);
    SaveClientState(record.state);
    record.textsAtWorkerStart = ReadEditableTexts(record);
    SetBusy(record, true);
    ShowStatus(record, status);

    auto context = std::make_unique<WorkerContext>();
    context->window = record.window;
    context->snapshot = record.state;
    context->engine = &record.engine;
    context->operation = operation;
    try {
        record.worker = record.startWorkerThread(std::move(context));
    } catch (const std::exception& error) {
        // No thread, so no completion will come: leave the busy state here and say why.
        SetBusy(record, false);
        ShowStatus(record, L"无法启动后台任务：" + Utf8ToWide(error.what()));
    }
}

void FinishWorker(MainWindow& record, LPARAM message) {
    const std::wstring text = TakeWorkerMessage(message);
    if (record.worker.joinable()) {
        record.worker.join();
    }
    record.worker = std::thread();
    // What the engineer typed while the worker ran is newer than what the worker saved.
    const EditableTexts typed = ReadEditableTexts(record);
    LoadClientState(record.state);
    ShowStateInControls(record);
    KeepTypedTexts(record, record.textsAtWorkerStart, typed);
    SetBusy(record, false);
    ShowStatus(record, text);
    Repaint(record);
    ArmOrDisarmRetry(record);
}

bool HandleTimer(MainWindow& record, WPARAM timerId) {
    if (timerId != kRetryTimerId) {
        return false;
    }
    if (RetriesOnTick(record.busy.load(), record.state, AccessKeyBeingEdited(record))) {
        StartWorker(record, kRetryStatus, ConnectOperation);
    }
    return true;
}

bool HandleCommand(MainWindow& record, WPARAM wParam) {
    const int id = LOWORD(wParam);
    for (const WorkerCommand& command : kWorkerCommands) {
        if (command.id == id) {
            StartWorker(record, command.status, command.operation);
            return true;
        }
    }
    switch (id) {
    case kSaveProfile:
        SaveProfileCommand(record);
        Repaint(record);
        return true;
    case kCopy:
        CopyAccessKeyCommand(record);
        return true;
    case kSavedProfiles:
        if (HIWORD(wParam) == CBN_SELCHANGE) {
            ChooseProfileCommand(record);
        }
        return true;
    case kParkedCombo:
    case kAdd:
    case kDelete:
    case kParkedGetNetworks:
        return true;
    default:
        return false;
    }
}

void SaveProfileCommand(MainWindow& record) {
    ReadControlsIntoState(record);
    const ProfileSaveResult result = SaveProfileIntoState(record.state);
    if (result.saved) {
        SaveClientState(record.state);
        FillSavedProfilesCombo(record.Control(kSavedProfiles), record.state);
    }
    ShowStatus(record, result.message);
}

void ChooseProfileCommand(MainWindow& record) {
    const std::wstring name = TrimWhitespace(ReadControlText(record.Control(kSavedProfiles)));
    if (name.empty()) {
        return;
    }
    const SiteProfile* profile = FindProfile(record.state.siteProfiles, name);
    if (profile == nullptr) {
        return;
    }
    const SiteProfile chosen = *profile;  // the list may change while the state takes it
    ApplyProfile(record.state, chosen);
    SaveClientState(record.state);
    ShowStateInControls(record);
    ShowStatus(record, ProfileLoadedMessage(chosen));
    Repaint(record);
}

void CopyAccessKeyCommand(MainWindow& record) {
    ReadControlsIntoState(record);
    CopyTextToClipboard(record.window, record.state.deviceSecret);  // leaves the clipboard alone for an empty key
    // The line does not depend on whether the clipboard took the text.
    ShowStatus(record, record.state.deviceSecret.empty() ? L"当前没有可复制的密钥。" : L"接入密钥已复制。");
}

}  // namespace ostrevane
