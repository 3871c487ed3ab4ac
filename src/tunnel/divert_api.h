// The tunnel's whole binding to the WinDivert library: its five entry points, loaded at run time
// from the DLL search directory (the runtime cache), and the module that owns them.
#pragma once

#include <memory>

#include "platform/unique_handle.h"
#include "tunnel/divert_types.h"

namespace ostrevane {

struct DivertApi {
    using OpenFn = HANDLE (*)(const char* filter, WINDIVERT_LAYER layer, INT16 priority, UINT64 flags);
    using RecvFn = BOOL (*)(HANDLE handle, VOID* packet, UINT packetLength, UINT* receivedLength,
                            WINDIVERT_ADDRESS* address);
    using SendFn = BOOL (*)(HANDLE handle, const VOID* packet, UINT packetLength, UINT* sentLength,
                            const WINDIVERT_ADDRESS* address);
    using CalcChecksumsFn = BOOL (*)(VOID* packet, UINT packetLength, WINDIVERT_ADDRESS* address, UINT64 flags);
    using CloseFn = BOOL (*)(HANDLE handle);
    using ShutdownFn = BOOL (*)(HANDLE handle, int how);

    UniqueModule module;  // unloaded when the table is released; empty for tables built by tests
    OpenFn open = nullptr;
    RecvFn recv = nullptr;
    SendFn send = nullptr;
    CalcChecksumsFn calcChecksums = nullptr;
    CloseFn close = nullptr;
    ShutdownFn shutdown = nullptr;  // WinDivertShutdown, optional: null when the library has none
};

inline constexpr int kDivertShutdownBoth = 3;  // WINDIVERT_SHUTDOWN_BOTH

inline constexpr INT16 kCapturePriority = -300;
inline constexpr INT16 kInjectionPriority = -301;

// Loads "WinDivert.dll" by its bare name and resolves the five exports.
// Throws "WinDivert.dll was not found in the runtime cache." or "WinDivert.dll is missing required exports.".
std::unique_ptr<DivertApi> LoadDivertApi();

}  // namespace ostrevane
