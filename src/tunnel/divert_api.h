// The tunnel's whole binding to the WinDivert library: its entry points, loaded at run time by
// full path from the runtime cache, and the module that owns them.
#pragma once

#include <memory>
#include <vector>

#include "platform/unique_handle.h"
#include "tunnel/divert_types.h"

namespace ostrevane {

struct DivertApi {
    using OpenFn = HANDLE (*)(const char* filter, WINDIVERT_LAYER layer, INT16 priority, UINT64 flags);
    using RecvFn = BOOL (*)(HANDLE handle, VOID* packet, UINT packetLength, UINT* receivedLength,
                            WINDIVERT_ADDRESS* address);
    using SendFn = BOOL (*)(HANDLE handle, const VOID* packet, UINT packetLength, UINT* sentLength,
                            const WINDIVERT_ADDRESS* address);
    // WinDivertRecvEx without an OVERLAPPED (a blocking call; the pointer is passed as null).
    using RecvExFn = BOOL (*)(HANDLE handle, VOID* packet, UINT packetLength, UINT* receivedLength, UINT64 flags,
                              WINDIVERT_ADDRESS* addresses, UINT* addressesLength, void* overlapped);
    using CalcChecksumsFn = BOOL (*)(VOID* packet, UINT packetLength, WINDIVERT_ADDRESS* address, UINT64 flags);
    using CloseFn = BOOL (*)(HANDLE handle);
    using ShutdownFn = BOOL (*)(HANDLE handle, int how);

    // Held from before the load until the table is released, so the files that were compared
    // with the embedded ones are the ones the loader and the driver service read, at the paths
    // they were compared at (no folder on the way can be renamed or be a link).
    std::vector<UniqueFileHandle> cacheFolders;
    UniqueFileHandle libraryFile;
    UniqueFileHandle driverFile;
    UniqueModule module;  // unloaded (first) when the table is released; empty for tables built by tests
    OpenFn open = nullptr;
    RecvFn recv = nullptr;
    SendFn send = nullptr;
    CalcChecksumsFn calcChecksums = nullptr;
    CloseFn close = nullptr;
    ShutdownFn shutdown = nullptr;  // WinDivertShutdown, optional: null when the library has none
    // WinDivertRecvEx, optional: every packet that is waiting, up to the room given, in one call.
    // Null in tables built by tests; the capture loop then takes one packet per WinDivertRecv.
    RecvExFn recvEx = nullptr;
};

inline constexpr int kDivertShutdownBoth = 3;  // WINDIVERT_SHUTDOWN_BOTH

inline constexpr INT16 kCapturePriority = -300;
inline constexpr INT16 kInjectionPriority = -301;

// Makes the two files of CurrentDivertFiles hold their bytes (rewriting them otherwise), holds
// them, loads WinDivert.dll by full path and resolves its exports (five required). Throws
// "WinDivert.dll was not found in the runtime cache.", "WinDivert64.sys was not found in the
// runtime cache." or "WinDivert.dll is missing required exports.".
std::unique_ptr<DivertApi> LoadDivertApi();

}  // namespace ostrevane
