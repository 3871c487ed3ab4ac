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
        EXPECT_FALSE(queue.Push(Numbered(i)).discarded);
    }
    EXPECT_EQ(queue.Size(), 4096u);
    EXPECT_TRUE(queue.Push(Numbered(4096)).discarded);
    EXPECT_EQ(queue.Size(), 4096u);
    const std::atomic<bool> stopping{true};
    EXPECT_EQ(NumberOf(*queue.WaitPop(stopping)), 1u) << "packet 0 was discarded";
    queue.Clear();
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(SendQueueBatch, TakesWhatIsQueuedWithinBothBoundsOldestFirst) {
    SendQueue queue;
    const std::atomic<bool> stopping{false};
    for (unsigned i = 0; i < 10; ++i) {
        queue.Push(Numbered(i));
    }
    std::vector<Packet> batch;
    ASSERT_TRUE(queue.WaitPopBatch(stopping, batch, 4, 1000));
    ASSERT_EQ(batch.size(), 4u) << "at most maxPackets";
    for (unsigned i = 0; i < 4; ++i) {
        EXPECT_EQ(NumberOf(batch[i]), i);
    }
    ASSERT_TRUE(queue.WaitPopBatch(stopping, batch, 64, 5));
    ASSERT_EQ(batch.size(), 2u) << "two 2-byte packets fit 5 bytes, a third does not";
    EXPECT_EQ(NumberOf(batch[0]), 4u);
    ASSERT_TRUE(queue.WaitPopBatch(stopping, batch, 64, 1));
    ASSERT_EQ(batch.size(), 1u) << "the first packet is taken even when it alone is over the bound";
    EXPECT_EQ(NumberOf(batch[0]), 6u);
    EXPECT_EQ(queue.Size(), 3u);
}

TEST(SendQueueBatch, BuffersOfASentBatchComeBackForTheNextPackets) {
    SendQueue queue;
    const std::atomic<bool> stopping{false};
    Packet large(1500, 0x11);
    const std::uint8_t* const storage = large.data();
    queue.Push(std::move(large));
    std::vector<Packet> batch;
    ASSERT_TRUE(queue.WaitPopBatch(stopping, batch, 64, 65536));
    queue.Push(Numbered(1));
    ASSERT_TRUE(queue.WaitPopBatch(stopping, batch, 64, 65536));  // the 1500-byte buffer becomes a spare
    ASSERT_EQ(batch.size(), 1u);
    EXPECT_EQ(NumberOf(batch[0]), 1u);
    SendQueue::Pushed pushed = queue.Push(Numbered(2));
    EXPECT_TRUE(pushed.spare.empty()) << "a spare comes back emptied";
    EXPECT_GE(pushed.spare.capacity(), 1500u);
    EXPECT_EQ(pushed.spare.data(), storage) << "the same allocation, not a new one";
}

TEST(SendQueueBatch, StoppingWithNothingQueuedGivesNoBatch) {
    SendQueue queue;
    const std::atomic<bool> stopping{true};
    std::vector<Packet> batch{Numbered(9)};
    EXPECT_FALSE(queue.WaitPopBatch(stopping, batch, 64, 65536));
    EXPECT_TRUE(batch.empty());
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
