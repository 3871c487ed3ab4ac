#include "app/activity_log.h"

#include "app/log_file.h"
#include "app/log_text.h"
#include "settings/control_text.h"

namespace ostrevane {

void AppendActivityLog(HWND box, const std::wstring& text) {
    WriteLogLine(text);
    const std::wstring entry = LogLinePrefix(CurrentLogTime()) + text;
    const std::wstring next = AppendActivityLogEntry(ReadControlText(box), entry);
    SetWindowTextW(box, next.c_str());
    const WPARAM end = next.size();
    SendMessageW(box, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageW(box, EM_SCROLLCARET, 0, 0);
}

}  // namespace ostrevane
