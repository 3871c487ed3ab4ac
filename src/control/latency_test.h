// The latency test: one ICMP echo to the test address, its outcome kept in the ClientState
// as the latency text and reported as a status line. Runs on the worker thread.
#pragma once

#include <string>

#include "control/latency_report.h"
#include "control/worker_operation.h"

namespace ostrevane {

// Trims the address, checks it, sends one echo ("Ostrevane" and a zero byte, 1000 ms) and
// describes what came back. Never throws for a bad address or a failed echo.
LatencyReport MeasureLatency(const std::wstring& testIp);

// Worker operation: measures `testIp`, stores the latency text, saves the state and sets the
// message. `testIp` itself is left as it is; the engine is not used.
void RunLatencyTest(ClientState& snapshot, EngineSlot engine, std::wstring& message);

}  // namespace ostrevane
