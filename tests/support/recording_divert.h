// A WinDivert table for tests of the data path: the genuine checksum helper (which can be made to
// fail), a send that records every packet, a receive that plays a script of packets, and open
// and close calls that only record. The table holds plain function pointers, so the recordings
// live in one process-wide recorder that every test resets.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "support/genuine_divert.h"
#include "tunnel/divert_api.h"

namespace ostrevane::testing {

struct SentPacket {
    HANDLE handle = nullptr;
    std::vector<std::uint8_t> bytes;  // exactly the length passed to the send call
    WINDIVERT_ADDRESS address{};
};

struct ScriptedReceive {
    std::vector<std::uint8_t> bytes;
    WINDIVERT_ADDRESS address{};
    bool fail = false;  // the receive call fails instead of delivering
};

struct ChecksumCall {
    unsigned length = 0;
    bool zeroAddress = false;  // the address record passed was all zero
    std::uint64_t flags = 0;
};

struct DivertRecorder {
    std::mutex mutex;  // sends and checksums may come from several threads
    std::vector<SentPacket> sent;
    std::vector<ChecksumCall> checksumCalls;
    std::vector<HANDLE> closed;
    bool failSends = false;
    bool failChecksums = false;

    std::deque<ScriptedReceive> script;
    std::function<void()> onScriptEnd;  // called by every receive once the script is played; should stop the loop
    int receiveCalls = 0;
    unsigned lastReceiveBufferLength = 0;
    HANDLE lastReceiveHandle = nullptr;

    GenuineDivert::ChecksumFn genuineChecksum = nullptr;

    void Reset();
};

DivertRecorder& Recorder();

// A batched receive over the same script: each call takes the next packets back to back.
DivertApi::RecvExFn RecordingBatchReceive();

// Resets the recorder and returns a table whose checksum helper is the genuine one.
std::unique_ptr<DivertApi> MakeRecordingDivertApi(const GenuineDivert& genuine);

}  // namespace ostrevane::testing
