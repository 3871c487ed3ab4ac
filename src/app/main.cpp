// GUI entry point of the client: the command line is not read.
#include <windows.h>

#include "app/application.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return ostrevane::RunClient(instance, showCommand);
}
