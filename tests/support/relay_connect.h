// What a relay's Connect ends with, as text: the error, or "connected".
#pragma once

#include <stdexcept>
#include <string>

#include "tunnel/websocket_relay.h"

namespace ostrevane::testing {

inline std::string ConnectError(WebSocketRelay& relay) {
    try {
        relay.Connect();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "connected";
}

}  // namespace ostrevane::testing
