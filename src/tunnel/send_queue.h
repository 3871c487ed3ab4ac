// The queue of translated outbound packets between the capture thread and the thread that
// sends them over the relay: first in, first out, bounded, the oldest packet lost on overflow.
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

    // Appends at the back, first discarding the oldest packet when kCapacity are queued;
    // wakes one waiter.
    void Push(std::vector<std::uint8_t> packet);

    // Blocks until a packet is queued or the stopping flag is set, and takes the oldest.
    // Empty when stopping is set and nothing is queued. Whoever sets the flag calls WakeAll.
    std::optional<std::vector<std::uint8_t>> WaitPop(const std::atomic<bool>& stopping);

    // Wakes every waiter so that it tests its flag again. Passing through the lock first means
    // a waiter that has just found the flag clear is already asleep and cannot miss the wake.
    void WakeAll();

    void Clear();
    std::size_t Size() const;

private:
    mutable std::mutex queueMutex;
    std::condition_variable queueCv;
    std::deque<std::vector<std::uint8_t>> packets;  // guarded by queueMutex
};

}  // namespace ostrevane
