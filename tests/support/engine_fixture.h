// Shared set-up of the tunnel engine tests: the stand-in WinDivert, its harness, the reference
// service's packet log, and packets as a local program would send them.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/divert_harness.h"
#include "support/packet_builder.h"
#include "support/reference_service.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane::testing {

struct ServicePacket {
    std::string direction;  // "in": from the client; "out": to the client
    std::string via;        // "ws", "udp" or "dropped"
    std::size_t length = 0;
    std::string verdict;
};

std::vector<ServicePacket> ServicePackets();
JsonValue ServiceState();
const JsonValue* JsonPath(const JsonValue& root, std::initializer_list<const wchar_t*> keys);
double JsonNumber(const JsonValue& root, std::initializer_list<const wchar_t*> keys);

// Polls a condition every 20 ms until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// The address that local programs use for a site address: inside the mapping network of the
// route that holds it (the site address itself when the route was not remapped).
std::uint32_t LocalAddressFor(const TunnelEngine& engine, std::uint32_t siteAddress);

inline constexpr std::uint32_t kLocalSource = Ip(192, 168, 77, 10);  // the engineer's own address

// Starts the engine on a fresh grant with the stand-in driver; the harness must exist first.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    TunnelEngineOptions FastOptions() const;
    std::wstring StartOnGrant(TunnelEngine& engine, const std::vector<std::wstring>& routes = {});

    Grant grant_;
    std::unique_ptr<DivertHarness> harness_;
};

}  // namespace ostrevane::testing
