// The elevated process takes DLLs only from the system directory: neither the executable's
// folder (often Downloads) nor the current folder is searched for anything loaded later.
#pragma once

namespace ostrevane {

// Called first by the program's entry point, before anything is loaded dynamically. Not for test
// programs: it also narrows the search for everything they load later.
bool RestrictDllSearchToSystem();

}  // namespace ostrevane
