#include "tunnel/send_queue.h"

#include <utility>

namespace ostrevane {

void SendQueue::KeepSpareLocked(std::vector<std::uint8_t>&& buffer) {
    if (spares.size() < kMaxSpares && buffer.capacity() > 0) {
        buffer.clear();
        spares.push_back(std::move(buffer));
    }
}

SendQueue::Pushed SendQueue::Push(std::vector<std::uint8_t> packet) {
    Pushed result;
    {
        std::lock_guard lock(queueMutex);
        if (packets.size() >= kCapacity) {
            KeepSpareLocked(std::move(packets.front()));
            packets.pop_front();
            result.discarded = true;
        }
        packets.push_back(std::move(packet));
        if (!spares.empty()) {
            result.spare = std::move(spares.back());
            spares.pop_back();
        }
    }
    queueCv.notify_one();
    return result;
}

std::optional<std::vector<std::uint8_t>> SendQueue::WaitPop(const std::atomic<bool>& stopping) {
    std::unique_lock lock(queueMutex);
    queueCv.wait(lock, [&] { return !packets.empty() || stopping.load(); });
    if (packets.empty()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> packet = std::move(packets.front());
    packets.pop_front();
    return packet;
}

bool SendQueue::WaitPopBatch(const std::atomic<bool>& stopping, std::vector<std::vector<std::uint8_t>>& batch,
                             std::size_t maxPackets, std::size_t maxBytes) {
    std::unique_lock lock(queueMutex);
    for (std::vector<std::uint8_t>& sent : batch) {
        KeepSpareLocked(std::move(sent));
    }
    batch.clear();
    queueCv.wait(lock, [&] { return !packets.empty() || stopping.load(); });
    std::size_t bytes = 0;
    while (!packets.empty() && batch.size() < maxPackets &&
           (batch.empty() || bytes + packets.front().size() <= maxBytes)) {
        bytes += packets.front().size();
        batch.push_back(std::move(packets.front()));
        packets.pop_front();
    }
    return !batch.empty();
}

void SendQueue::WakeAll() {
    { std::lock_guard lock(queueMutex); }
    queueCv.notify_all();
}

void SendQueue::Clear() {
    std::lock_guard lock(queueMutex);
    packets.clear();
}

std::size_t SendQueue::Size() const {
    std::lock_guard lock(queueMutex);
    return packets.size();
}

}  // namespace ostrevane
