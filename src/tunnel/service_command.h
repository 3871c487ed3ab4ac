// Hidden runs of the service control tool that remove the packet-diversion driver's service.
#pragma once

#include <string>

namespace ostrevane {

inline constexpr const wchar_t* kDriverServiceCommands[] = {
    L"sc stop WinDivert64", L"sc delete WinDivert64", L"sc stop WinDivert", L"sc delete WinDivert"};

// The service control tool by full path ("<system directory>\sc.exe"): a bare "sc" would be
// searched in the executable's folder and the current folder first.
std::wstring ServiceControlProgram();

// Starts the command line with ServiceControlProgram as the program, in the system directory,
// without a window, and waits up to 5 s; nothing is reported.
void RunServiceCommand(const std::wstring& commandLine);

}  // namespace ostrevane
