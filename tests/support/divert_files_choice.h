// Test programs carry no driver resources: these point the tunnel at the WinDivert.dll of a
// folder, checked and loaded by full path from a folder of this test process, the genuine driver
// file beside it.
#pragma once

#include <string>

namespace ostrevane::testing {

// A folder without WinDivert.dll makes the tunnel report a missing library.
void UseDivertLibraryIn(const std::wstring& directory);
// Back to the executable's own resources and the runtime cache.
void UseEmbeddedDivertFiles();

}  // namespace ostrevane::testing
