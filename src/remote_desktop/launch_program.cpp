#include "remote_desktop/launch_program.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/unique_handle.h"
#include "remote_desktop/command_line.h"

namespace ostrevane {

void LaunchProgram(const std::wstring& executable, const std::vector<std::wstring>& arguments) {
    const std::wstring parameters = BuildParameterText(arguments);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No error dialog when the program cannot be started: the client never shows dialog boxes.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = executable.c_str();
    info.lpParameters = arguments.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) {
        UniqueKernelHandle process(info.hProcess);  // not waited for, only closed
    }
}

}  // namespace ostrevane
