// A two-way byte stream as the WebSocket code reads and writes it: the relay's TCP socket itself,
// or a TLS session running over that socket.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tunnel/websocket_protocol.h"

namespace ostrevane {

class ByteStream : public ByteSource {
public:
    // Writes from `data` (length at least 1) and returns how many bytes were taken (at least 1),
    // or a result below 1 when the stream can no longer carry anything.
    virtual int Send(const std::uint8_t* data, int length) = 0;

    // The errors of the last failed Receive and the last failed Send: a Winsock error, or a
    // security status for a failure of the TLS layer itself; 0 when the other side just closed.
    // Each is written only by the thread that receives, or under the lock that orders the sends.
    int receiveError = 0;
    int sendError = 0;
};

// Writes all of `data`; false when the stream failed on the way.
bool SendAll(ByteStream& stream, const std::uint8_t* data, std::size_t length);

}  // namespace ostrevane
