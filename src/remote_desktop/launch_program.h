// Starts an outside program (RustDesk) with arguments and does not wait for it.
#pragma once

#include <string>
#include <vector>

namespace ostrevane {

// Starts the program through the shell with the quoted arguments, shown normally. Whether it
// started is not reported: the program's own window is what the engineer sees.
void LaunchProgram(const std::wstring& executable, const std::vector<std::wstring>& arguments);

}  // namespace ostrevane
