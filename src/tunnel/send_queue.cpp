#include "tunnel/send_queue.h"

#include <utility>

namespace ostrevane {

void SendQueue::Push(std::vector<std::uint8_t> packet) {
    {
        std::lock_guard lock(queueMutex);
        if (packets.size() >= kCapacity) {
            packets.pop_front();
        }
        packets.push_back(std::move(packet));
    }
    queueCv.notify_one();
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
