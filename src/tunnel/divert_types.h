// WinDivert 2.2's published types (the address record, layers, flags) from its own header.
// Include this instead of windivert.h: that header defines SAL words and integer names as
// macros, which are undone here so they cannot leak into other headers. Native (non-Windows)
// builds of the pure packet code find a windivert.h of the same layout on their include path.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

#include <windivert.h>

#undef __in
#undef __in_opt
#undef __out
#undef __out_opt
#undef __inout
#undef __inout_opt
#undef INT8
#undef UINT8
#undef INT16
#undef UINT16
#undef INT32
#undef UINT32
#undef INT64
#undef UINT64

static_assert(sizeof(WINDIVERT_ADDRESS) == 80, "WINDIVERT_ADDRESS must be WinDivert 2.2's 80-byte record");
