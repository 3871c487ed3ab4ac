#include "tunnel/send_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace ostrevane {
namespace {

using Packet = std::vector<std::uint8_t>;

Packet Numbered(unsigned number) {
    return {static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
}

unsigned NumberOf(const Packet& packet) { return unsigned{packet[0]} << 8 | packet[1]; }

TEST(SendQueue, HandsOutPacketsOldestFirst) {
    SendQueue queue;
    const std::atomic<bool> stopping{false};
    for (unsigned i = 0; i < 3; ++i) {
        queue.Push(Numbered(i));
    }
    EXPECT_EQ(queue.Size(), 3u);
    for (unsigned i = 0; i < 3; ++i) {
        const auto packet = queue.WaitPop(stopping);
        ASSERT_TRUE(packet.has_value());
        EXPECT_EQ(NumberOf(*packet), i);
    }
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(SendQueue, DiscardsTheOldestWhenFull) {
    SendQueue queue;
    for (unsigned i = 0; i < SendQueue::kCapacity; ++i) {
        queue.Push(Numbered(i));
    }
    EXPECT_EQ(queue.Size(), 4096u);
    queue.Push(Numbered(4096));
    EXPECT_EQ(queue.Size(), 4096u);
    const std::atomic<bool> stopping{true};
    EXPECT_EQ(NumberOf(*queue.WaitPop(stopping)), 1u) << "packet 0 was discarded";
    queue.Clear();
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(SendQueue, StoppingStillHandsOutQueuedPacketsThenNothing) {
    SendQueue queue;
    const std::atomic<bool> stopping{true};
    queue.Push(Numbered(7));
    EXPECT_EQ(NumberOf(*queue.WaitPop(stopping)), 7u);
    EXPECT_FALSE(queue.WaitPop(stopping).has_value());
}

TEST(SendQueue, APushWakesAWaiter) {
    SendQueue queue;
    const std::atomic<bool> stopping{false};
    auto waiter = std::async(std::launch::async, [&] { return queue.WaitPop(stopping); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout) << "nothing queued yet";
    queue.Push(Numbered(42));
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(NumberOf(*waiter.get()), 42u);
}

TEST(SendQueue, SettingStoppingAndWakingReleasesEveryWaiter) {
    SendQueue queue;
    std::atomic<bool> stopping{false};
    std::vector<std::future<std::optional<Packet>>> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.push_back(std::async(std::launch::async, [&] { return queue.WaitPop(stopping); }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stopping = true;
    queue.WakeAll();
    for (auto& waiter : waiters) {
        const bool released = waiter.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (!released) {
            queue.Push(Numbered(0));  // lets a stuck waiter end so the test can report
        }
        ASSERT_TRUE(released);
        EXPECT_FALSE(waiter.get().has_value());
    }
}

TEST(SendQueue, AWakeThatRacesTheWaitIsNeverLost) {
    // The flag is set and the wake sent at every moment of a waiter's way into the wait.
    for (int round = 0; round < 200; ++round) {
        SendQueue queue;
        std::atomic<bool> stopping{false};
        auto waiter = std::async(std::launch::async, [&] { return queue.WaitPop(stopping); });
        if (round % 2 == 0) {
            std::this_thread::yield();
        }
        stopping = true;
        queue.WakeAll();
        const bool released = waiter.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (!released) {
            queue.Push(Numbered(0));  // lets the stuck waiter end so the test can report
        }
        ASSERT_TRUE(released) << "round " << round;
    }
}

}  // namespace
}  // namespace ostrevane
