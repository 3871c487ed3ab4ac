// WinDivert 2.2's types that the packet code names (layers, flags, the address record), for
// native Linux builds of the pure readers: found in place of the published windivert.h through
// the fuzz build's include path, with the same names, sizes and layout. Windows builds never
// see this file.
#pragma once

#ifdef _WIN32
#error "this windivert.h is for builds without <windows.h>; Windows builds use WinDivert's own"
#endif

#include "platform/win32_types.h"

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
