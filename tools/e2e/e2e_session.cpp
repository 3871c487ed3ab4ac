// A headless session of the client: resolves the access key, connects with the target network
// "ALL", holds the tunnel, and disconnects when told. Uses the client's own operations, settings
// file and driver runtime (this program carries the stand-in driver as its resource 201).
//
// Usage: e2e_session.exe SERVER_URL ACCESS_KEY
// Prints one line per event; then reads commands from standard input, one per line:
//   status      prints "status running=0|1 relay=0|1 udp=0|1"
//   counters    prints "counters " and the engine's packet and platform-call counts (key=value ...)
//   disconnect  runs the disconnect command and ends the program
// The end of standard input also disconnects.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/runtime_cache.h"
#include "control/connect_operations.h"
#include "control/session_end.h"
#include "settings/settings_file.h"
#include "settings/text_utils.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane {
namespace {

void PrintLine(const std::string& tag, const std::wstring& text) {
    std::string flat = WideToUtf8(text);
    for (char& c : flat) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    std::printf("%s %s\n", tag.c_str(), flat.c_str());
    std::fflush(stdout);
}

// Runs one worker operation the way the window's worker runner does.
bool RunOperation(WorkerOperation operation, ClientState& state, EngineSlot engine, const char* tag) {
    std::wstring message;
    try {
        operation(state, engine, message);
        PrintLine(tag, message);
        return true;
    } catch (const std::exception& error) {
        RunFailureCleanUp(state, engine);
        PrintLine(tag, L"Error: " + Utf8ToWide(error.what()));
        return false;
    }
}

int RunSession(const std::wstring& serverUrl, const std::wstring& accessKey) {
    PrepareDriverRuntime();
    auto engine = std::make_unique<TunnelEngine>();
    ClientState state;
    LoadClientState(state);
    state.serverUrl = NormalizeServerUrl(serverUrl);
    state.deviceSecret = accessKey;
    SaveClientState(state);

    if (!RunOperation(ResolveDevice, state, &engine, "resolve")) {
        return 1;
    }
    state.targetNetwork = L"ALL";
    if (!RunOperation(ConnectOperation, state, &engine, "connect") || !engine->running()) {
        return 1;
    }
    PrintLine("filter", engine->filterText());
    PrintLine("online", state.connectionId + L" " + state.assignedAddress);

    std::string command;
    while (std::getline(std::cin, command)) {
        if (command.rfind("status", 0) == 0) {
            std::printf("status running=%d relay=%d udp=%d\n", engine->running() ? 1 : 0,
                        engine->relayConnected() ? 1 : 0, engine->udpReady() ? 1 : 0);
            std::fflush(stdout);
        } else if (command.rfind("counters", 0) == 0) {
            std::printf("counters %s\n", DescribeCounters(engine->counters()).c_str());
            std::fflush(stdout);
        } else if (command.rfind("disconnect", 0) == 0) {
            break;
        }
    }
    const bool disconnected = RunOperation(DisconnectOperation, state, &engine, "disconnect");
    engine.reset();
    return disconnected ? 0 : 1;
}

}  // namespace
}  // namespace ostrevane

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: e2e_session SERVER_URL ACCESS_KEY\n");
        return 2;
    }
    return ostrevane::RunSession(ostrevane::Utf8ToWide(argv[1]), ostrevane::Utf8ToWide(argv[2]));
}
