// The queue of translated outbound packets between the capture thread and the thread that
// sends them over the relay: first in, first out, bounded, the oldest packet lost on overflow.
// The buffers of sent packets come back to it and go out again for the next captured packets,
// so that a steady stream of packets allocates nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace ostrevane {

class SendQueue {
public:
    static constexpr std::size_t kCapacity = 4096;
    static constexpr std::size_t kMaxSpares = 64;  // a batch's worth of buffers kept for reuse

    // Appends at the back, first discarding the oldest packet when kCapacity are queued;
    // wakes one waiter. Returns an emptied buffer to fill next (with its capacity, when one was
    // spare), and whether a packet was discarded.
    struct Pushed {
        std::vector<std::uint8_t> spare;
        bool discarded = false;
    };
    Pushed Push(std::vector<std::uint8_t> packet);

    // Blocks until a packet is queued or the stopping flag is set, and takes the oldest.
    // Empty when stopping is set and nothing is queued. Whoever sets the flag calls WakeAll.
    std::optional<std::vector<std::uint8_t>> WaitPop(const std::atomic<bool>& stopping);

    // Blocks like WaitPop, then takes the oldest packets at once: at least one, then more while
    // the batch stays within maxPackets and maxBytes. The buffers that `batch` holds from the
    // last call are kept as spares first. False when stopping is set and nothing is queued.
    bool WaitPopBatch(const std::atomic<bool>& stopping, std::vector<std::vector<std::uint8_t>>& batch,
                      std::size_t maxPackets, std::size_t maxBytes);

    // Wakes every waiter so that it tests its flag again. Passing through the lock first means
    // a waiter that has just found the flag clear is already asleep and cannot miss the wake.
    void WakeAll();

    void Clear();
    std::size_t Size() const;

private:
    void KeepSpareLocked(std::vector<std::uint8_t>&& buffer);

    mutable std::mutex queueMutex;
    std::condition_variable queueCv;
    std::deque<std::vector<std::uint8_t>> packets;  // guarded by queueMutex
    std::vector<std::vector<std::uint8_t>> spares;  // guarded by queueMutex; empty, with capacity
};

}  // namespace ostrevane
