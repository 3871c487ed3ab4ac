// The packet path of a running tunnel as one record that the engine owns: the WinDivert table
// and handles, the addresses and route mappings of the grant, the connection table and the send
// queue, with the flags that every loop of the tunnel watches.
//
// natMutex guards only the connection table and the send queue has its own lock; neither is
// held while the other is taken, nor across a WinDivert or socket call.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "tunnel/divert_api.h"
#include "tunnel/flow_table.h"
#include "tunnel/mapping_networks.h"
#include "tunnel/send_queue.h"
#include "tunnel/tunnel_counters.h"

namespace ostrevane {

using PauseFn = void (*)(std::chrono::milliseconds);
void PauseThread(std::chrono::milliseconds duration);

// Milliseconds of a monotonic clock; replaceable in tests.
using MonotonicClockFn = std::uint64_t (*)();
std::uint64_t SteadyMilliseconds();

struct TunnelDataPath {
    TunnelDataPath() = default;
    TunnelDataPath(const TunnelDataPath&) = delete;
    TunnelDataPath& operator=(const TunnelDataPath&) = delete;
    ~TunnelDataPath() { CloseHandles(); }

    // Closes the capture handle, then the injection handle, each only if valid, leaving both
    // invalid. Called once no thread can still use them: a closed number can go to the next
    // handle at once.
    void CloseHandles() noexcept;

    // Ends a WinDivertRecv blocked on the capture handle: WinDivertShutdown where the library
    // has it, which leaves the handle open for CloseHandles; otherwise the handle is closed now,
    // the only other way to end the receive (the capture thread is its one user).
    void ShutdownCapture() noexcept;

    std::atomic<bool> running{false};   // the tunnel is up; every loop runs only while it is set
    std::atomic<bool> stopping{false};  // a stop is in progress; every loop and wait leaves at once

    // Loaded before the threads start and released only after they are joined.
    std::unique_ptr<DivertApi> api;
    // Owned (closed through api->close by CloseHandles and the destructor, after the threads that
    // use them are joined); used without a lock: the capture handle by the capture thread only,
    // the injection handle by every thread.
    std::atomic<HANDLE> captureHandle{INVALID_HANDLE_VALUE};
    std::atomic<HANDLE> injectionHandle{INVALID_HANDLE_VALUE};

    // The grant, host byte order; written before the threads start and only read while they run.
    std::uint32_t assignedAddress = 0;
    std::vector<RouteMapping> mappings;

    std::mutex natMutex;  // held only to record or look up a flow
    FlowTable flows;      // guarded by natMutex
    SendQueue sendQueue;  // guarded by its own queueMutex
    TunnelCounters counters;

    PauseFn pause = &PauseThread;  // the pause after a packet that failed; tests watch it
    MonotonicClockFn clock = &SteadyMilliseconds;  // ages the connection table
};

}  // namespace ostrevane
