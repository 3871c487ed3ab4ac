// The handful of Win32 and WinDivert 2.2 types that the packet code names, for native Linux
// builds of the pure readers (the fuzz targets): the same names, sizes and layout as on
// Windows, nothing more. Windows builds never include this file.
#pragma once

#ifdef _WIN32
#error "divert_types_native.h is for builds without <windows.h>; include divert_types.h"
#endif

#include <cstdint>

using HANDLE = void*;
using BOOL = int;
using UINT = unsigned int;
using VOID = void;
using INT16 = std::int16_t;
using UINT8 = std::uint8_t;
using UINT32 = std::uint32_t;
using INT64 = std::int64_t;
using UINT64 = std::uint64_t;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

enum WINDIVERT_LAYER {
    WINDIVERT_LAYER_NETWORK = 0,
    WINDIVERT_LAYER_NETWORK_FORWARD = 1,
    WINDIVERT_LAYER_FLOW = 2,
    WINDIVERT_LAYER_SOCKET = 3,
    WINDIVERT_LAYER_REFLECT = 4,
};

inline constexpr UINT64 WINDIVERT_FLAG_SEND_ONLY = 0x0008;

struct WINDIVERT_DATA_NETWORK {
    UINT32 IfIdx;
    UINT32 SubIfIdx;
};

// The record's layout as WinDivert 2.2 publishes it; only the network-layer data is named.
struct WINDIVERT_ADDRESS {
    INT64 Timestamp;
    UINT32 Layer : 8;
    UINT32 Event : 8;
    UINT32 Sniffed : 1;
    UINT32 Outbound : 1;
    UINT32 Loopback : 1;
    UINT32 Impostor : 1;
    UINT32 IPv6 : 1;
    UINT32 IPChecksum : 1;
    UINT32 TCPChecksum : 1;
    UINT32 UDPChecksum : 1;
    UINT32 Reserved1 : 8;
    UINT32 Reserved2;
    union {
        WINDIVERT_DATA_NETWORK Network;
        UINT8 Reserved3[64];
    };
};
