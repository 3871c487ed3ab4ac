// Seeded random interleavings of Start and Stop from several threads against the reference
// service, with relay drops and refusals, UDP faults and a relay that accepts the connection and
// never answers its handshake. No crash, every Stop within 2 s, and after the last Stop no
// thread, handle or library of the engine is left.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <random>
#include <string>

#include "platform/unique_handle.h"
#include "support/engine_fixture.h"
#include "support/process_footprint.h"

namespace ostrevane::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kRounds = 200;
constexpr auto kStopBound = 2s;

std::size_t ThreadsOfThisProcess() {
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    std::size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

bool NoRelayLeftAtTheService() {
    return WaitUntil([] {
        const JsonValue state = ServiceState();
        const auto* list = std::get_if<JsonArray>(JsonPath(state, {L"relay", L"live"}));
        return list != nullptr && list->empty();
    }, 5s);
}

class EngineStressTest : public EngineFixture {
protected:
    TunnelEngineOptions Options() const {
        TunnelEngineOptions options = FastOptions();
        options.backoffUnit = 50ms;
        options.udp.helloAttempts = 2;
        options.udp.helloTimeoutMs = 300;
        options.udp.keepaliveInterval = 200ms;
        return options;
    }

    // One fault of the service, chosen by the round's generator, armed before the start.
    static void ArmFault(std::mt19937& random) {
        switch (random() % 7) {
            case 0:  // black hole: the upgrade is answered only after the round is over
                PostFault(R"({"name":"delay-http","ms":4000,"count":1,"pathPrefix":"/api/relay/"})");
                break;
            case 1:
                PostFault(R"({"name":"refuse-upgrades","count":)" + std::to_string(1 + random() % 3) +
                          R"(,"status":503})");
                break;
            case 2:
                PostFault(R"({"name":"ignore-hellos","count":)" + std::to_string(1 + random() % 3) + "}");
                break;
            case 3:
                PostFault(R"({"name":"udp-silence","enabled":true})");
                break;
            default:
                break;  // a clean start
        }
    }

    // Stop from a thread of its own; false when it took longer than the bound.
    static std::future<std::wstring> StopAsync(TunnelEngine& engine) {
        return std::async(std::launch::async, [&engine] { return engine.Stop(); });
    }

    void RunRound(TunnelEngine& engine, unsigned seed) {
        std::mt19937 random(seed);
        PostFault(R"({"name":"clear"})");
        ArmFault(random);
        const int starts = 1 + static_cast<int>(random() % 4 == 0);
        auto start = std::async(std::launch::async, [&, starts] {
            for (int i = 0; i < starts; ++i) {
                try {
                    StartOnGrant(engine);
                } catch (const std::runtime_error&) {
                    // refused, black-holed or stopped: each is a fair end of a start here
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
        if (random() % 3 == 0) {
            PostFault(R"({"name":"close-relays"})");  // a drop while running or reconnecting
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 200));
        }
        std::vector<std::future<std::wstring>> stops;
        stops.push_back(StopAsync(engine));
        if (random() % 2 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 50));
            stops.push_back(StopAsync(engine));
        }
        for (auto& stop : stops) {
            ASSERT_EQ(stop.wait_for(kStopBound), std::future_status::ready) << "a stop took more than 2 s";
            stop.get();
        }
        ASSERT_EQ(start.wait_for(10s), std::future_status::ready) << "the start did not end after the stop";
        start.get();
        // A start that came after both stops may still run: the last stop of the round.
        auto last = StopAsync(engine);
        ASSERT_EQ(last.wait_for(kStopBound), std::future_status::ready) << "the last stop took more than 2 s";
        last.get();
        ASSERT_FALSE(engine.running());
        ASSERT_FALSE(engine.udpThreadsRunning());
        ASSERT_EQ(engine.queuedPackets(), 0u);
        ASSERT_EQ(GetModuleHandleW(L"WinDivert.dll"), nullptr) << "the library stayed loaded";
    }
};

TEST_F(EngineStressTest, SeededInterleavingsOfStartAndStopLeaveNothingBehind) {
    TunnelEngine engine(Options());
    // Fixed, so that every run tries the same rounds; OSTREVANE_STRESS_SEED tries others.
    const char* chosen = std::getenv("OSTREVANE_STRESS_SEED");
    const unsigned base = chosen != nullptr ? static_cast<unsigned>(std::strtoul(chosen, nullptr, 10)) : 22000u;
    RunRound(engine, base);  // warms up every path and heap before the counts are taken
    ASSERT_TRUE(NoRelayLeftAtTheService());
    const std::size_t threadsBefore = ThreadsOfThisProcess();
    const ProcessFootprint before = MeasureProcessFootprint();
    for (int round = 1; round <= kRounds; ++round) {
        const unsigned seed = base + static_cast<unsigned>(round);
        SCOPED_TRACE("seed " + std::to_string(seed) + " (rerun this round alone with the same seed)");
        RunRound(engine, seed);
        if (HasFatalFailure()) {
            std::printf("[ stress ] failed at seed %u\n", seed);
            return;
        }
    }
    PostFault(R"({"name":"clear"})");
    // The worker threads of std::async may linger a moment after their futures are ready.
    EXPECT_TRUE(WaitUntil([&] { return ThreadsOfThisProcess() <= threadsBefore; }, 5s))
        << "threads before " << threadsBefore << ", after " << ThreadsOfThisProcess();
    const ProcessFootprint after = MeasureProcessFootprint();
    EXPECT_LE(after.handles, before.handles + 8) << "handles before " << before.handles << ", after " << after.handles;
    EXPECT_TRUE(NoRelayLeftAtTheService()) << "a relay connection of the engine is still open";
    std::printf("[ stress ] %d rounds from seed %u; threads %zu; handles %zu -> %zu\n", kRounds, base + 1,
                threadsBefore, before.handles, after.handles);
}

}  // namespace
}  // namespace ostrevane::testing
