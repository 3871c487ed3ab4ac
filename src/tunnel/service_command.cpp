#include "tunnel/service_command.h"

#include <windows.h>

#include <vector>

#include "platform/path_text.h"
#include "platform/unique_handle.h"

namespace ostrevane {
namespace {

std::wstring SystemDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(buffer, length);
}

}  // namespace

std::wstring ServiceControlProgram() {
    const std::wstring system = SystemDirectory();
    return system.empty() ? std::wstring() : JoinPath(system, L"sc.exe");
}

void RunServiceCommand(const std::wstring& commandLine) {
    const std::wstring program = ServiceControlProgram();
    if (program.empty()) {
        return;  // never fall back to a search by name
    }
    const std::wstring directory = SystemDirectory();
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        directory.c_str(), &startup, &process)) {
        return;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), 5000);
}

}  // namespace ostrevane
