#include "tunnel/byte_stream.h"

#include <algorithm>

namespace ostrevane {

bool SendAll(ByteStream& stream, const std::uint8_t* data, std::size_t length) {
    std::size_t offset = 0;
    while (offset < length) {
        const int chunk = static_cast<int>(std::min<std::size_t>(length - offset, websocket::kMaxChunk));
        const int sent = stream.Send(data + offset, chunk);
        if (sent < 1) {
            return false;
        }
        offset += static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace ostrevane
