// GUI entry point of the client: the command line is not read.
#include <windows.h>

#include "app/application.h"
#include "platform/dll_search.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Before anything else: the executable's folder may hold DLLs that someone else put there.
    ostrevane::RestrictDllSearchToSystem();
    return ostrevane::RunClient(instance, showCommand);
}
