// The Win32 names that the handle owners and the pure packet code use: <windows.h> itself on
// Windows; native builds of the pure readers (the fuzz targets) get the same names from
// win32_types_native.h. The one place where the platform is chosen.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/win32_types_native.h"
#endif
