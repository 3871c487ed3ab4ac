#include "platform/unique_handle.h"

#include <gtest/gtest.h>

namespace ostrevane {
namespace {

// Counts closes instead of closing anything real.
int g_closed = 0;
struct CountingTraits {
    using Pointer = int;
    static Pointer Invalid() noexcept { return -1; }
    static void Close(Pointer) noexcept { ++g_closed; }
};
using CountingHandle = UniqueHandle<CountingTraits>;

TEST(UniqueHandle, ClosesOnceOnDestructionResetAndMove) {
    g_closed = 0;
    {
        CountingHandle a(3);
        CountingHandle b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), 3);
        CountingHandle c(4);
        c = std::move(b);  // closes 4, takes 3
        EXPECT_EQ(g_closed, 1);
        c.reset();
        c.reset();  // a second reset of an empty owner closes nothing
        EXPECT_EQ(g_closed, 2);
    }
    EXPECT_EQ(g_closed, 2);
}

TEST(UniqueHandle, ReleaseGivesUpOwnershipAndPutClosesFirst) {
    g_closed = 0;
    CountingHandle a(7);
    EXPECT_EQ(a.release(), 7);
    EXPECT_FALSE(a);
    CountingHandle b(8);
    *b.put() = 9;
    EXPECT_EQ(g_closed, 1);
    EXPECT_EQ(b.get(), 9);
}

TEST(UniqueHandle, OwnsRealKernelAndFileHandles) {
    UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    HANDLE raw = event.get();
    event.reset();
    EXPECT_FALSE(SetEvent(raw)) << "the event handle must be closed";
    UniqueFileHandle none;
    EXPECT_EQ(none.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(none);
}

TEST(ScopeExit, RunsUnlessDismissed) {
    int runs = 0;
    {
        ScopeExit guard([&] { ++runs; });
    }
    {
        ScopeExit guard([&] { ++runs; });
        guard.Dismiss();
    }
    EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace ostrevane
