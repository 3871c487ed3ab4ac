#include "support/recording_divert.h"

#include <algorithm>
#include <cstring>

namespace ostrevane::testing {
namespace {

HANDLE RecordingOpen(const char*, WINDIVERT_LAYER, INT16, UINT64) { return INVALID_HANDLE_VALUE; }

// Under the recorder's mutex: what every receive call records about itself.
void NoteReceive(DivertRecorder& recorder, HANDLE handle, UINT packetLength) {
    ++recorder.receiveCalls;
    recorder.lastReceiveBufferLength = packetLength;
    recorder.lastReceiveHandle = handle;
}

BOOL RecordingRecv(HANDLE handle, VOID* packet, UINT packetLength, UINT* receivedLength, WINDIVERT_ADDRESS* address) {
    DivertRecorder& recorder = Recorder();
    std::function<void()> scriptEnd;
    {
        std::lock_guard lock(recorder.mutex);
        NoteReceive(recorder, handle, packetLength);
        if (!recorder.script.empty()) {
            ScriptedReceive next = std::move(recorder.script.front());
            recorder.script.pop_front();
            if (next.fail) {
                return FALSE;
            }
            const UINT length = static_cast<UINT>(std::min<std::size_t>(next.bytes.size(), packetLength));
            std::memcpy(packet, next.bytes.data(), length);
            *receivedLength = length;
            *address = next.address;
            return TRUE;
        }
        scriptEnd = recorder.onScriptEnd;
    }
    if (scriptEnd) {
        scriptEnd();
    }
    return FALSE;
}

// Takes the script's packets back to back while they fit, as the driver fills a batch; a
// scripted failure ends a batch, or fails the call when it comes first.
BOOL RecordingRecvEx(HANDLE handle, VOID* packet, UINT packetLength, UINT* receivedLength, UINT64,
                     WINDIVERT_ADDRESS* addresses, UINT* addressesLength, void*) {
    DivertRecorder& recorder = Recorder();
    std::function<void()> scriptEnd;
    {
        std::lock_guard lock(recorder.mutex);
        NoteReceive(recorder, handle, packetLength);
        const std::size_t room = *addressesLength / sizeof(WINDIVERT_ADDRESS);
        UINT written = 0;
        std::size_t count = 0;
        while (!recorder.script.empty() && count < room && !recorder.script.front().fail &&
               written + recorder.script.front().bytes.size() <= packetLength) {
            const ScriptedReceive& next = recorder.script.front();
            std::memcpy(static_cast<std::uint8_t*>(packet) + written, next.bytes.data(), next.bytes.size());
            written += static_cast<UINT>(next.bytes.size());
            addresses[count++] = next.address;
            recorder.script.pop_front();
        }
        if (count > 0) {
            *receivedLength = written;
            *addressesLength = static_cast<UINT>(count * sizeof(WINDIVERT_ADDRESS));
            return TRUE;
        }
        if (!recorder.script.empty()) {
            recorder.script.pop_front();  // the scripted failure
            return FALSE;
        }
        scriptEnd = recorder.onScriptEnd;
    }
    if (scriptEnd) {
        scriptEnd();
    }
    return FALSE;
}

BOOL RecordingSend(HANDLE handle, const VOID* packet, UINT packetLength, UINT* sentLength,
                   const WINDIVERT_ADDRESS* address) {
    DivertRecorder& recorder = Recorder();
    std::lock_guard lock(recorder.mutex);
    if (recorder.failSends) {
        return FALSE;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(packet);
    recorder.sent.push_back({handle, std::vector<std::uint8_t>(bytes, bytes + packetLength), *address});
    if (sentLength != nullptr) {
        *sentLength = packetLength;
    }
    return TRUE;
}

BOOL RecordingChecksums(VOID* packet, UINT packetLength, WINDIVERT_ADDRESS* address, UINT64 flags) {
    DivertRecorder& recorder = Recorder();
    std::lock_guard lock(recorder.mutex);
    const WINDIVERT_ADDRESS zero{};
    recorder.checksumCalls.push_back(
        {packetLength, address != nullptr && std::memcmp(address, &zero, sizeof zero) == 0, flags});
    if (recorder.failChecksums || recorder.genuineChecksum == nullptr) {
        return FALSE;
    }
    return recorder.genuineChecksum(packet, packetLength, address, flags);
}

BOOL RecordingClose(HANDLE handle) {
    DivertRecorder& recorder = Recorder();
    std::lock_guard lock(recorder.mutex);
    recorder.closed.push_back(handle);
    return TRUE;
}

}  // namespace

DivertApi::RecvExFn RecordingBatchReceive() { return &RecordingRecvEx; }

void DivertRecorder::Reset() {
    std::lock_guard lock(mutex);
    sent.clear();
    checksumCalls.clear();
    closed.clear();
    failSends = false;
    failChecksums = false;
    script.clear();
    onScriptEnd = nullptr;
    receiveCalls = 0;
    lastReceiveBufferLength = 0;
    lastReceiveHandle = nullptr;
    genuineChecksum = nullptr;
}

DivertRecorder& Recorder() {
    static DivertRecorder recorder;
    return recorder;
}

std::unique_ptr<DivertApi> MakeRecordingDivertApi(const GenuineDivert& genuine) {
    DivertRecorder& recorder = Recorder();
    recorder.Reset();
    recorder.genuineChecksum = genuine.checksumFunction();
    auto api = std::make_unique<DivertApi>();
    api->open = &RecordingOpen;
    api->recv = &RecordingRecv;  // tests of batched receives add RecordingBatchReceive()
    api->send = &RecordingSend;
    api->calcChecksums = &RecordingChecksums;
    api->close = &RecordingClose;
    return api;
}

}  // namespace ostrevane::testing
