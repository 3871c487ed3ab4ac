#include "tunnel/capture_batch.h"

#include "tunnel/byte_order.h"

namespace ostrevane {

std::size_t SplitCaptureBatch(std::span<std::uint8_t> received, std::size_t count,
                              std::vector<std::span<std::uint8_t>>& packets) {
    packets.clear();
    if (count == 0) {
        return 0;
    }
    if (count == 1) {
        packets.push_back(received);  // even when empty: what cannot be translated is put back as it came
        return 1;
    }
    std::size_t offset = 0;
    for (std::size_t i = 0; i < count && offset < received.size(); ++i) {
        const std::span<std::uint8_t> rest = received.subspan(offset);
        if (i + 1 == count) {
            packets.push_back(rest);  // the last one takes what is left, as a lone packet would
            break;
        }
        if (rest.size() < 20) {
            break;
        }
        const std::size_t length = ReadBe16(rest.data() + 2);
        if (length < 20 || length > rest.size()) {
            break;
        }
        packets.push_back(rest.first(length));
        offset += length;
    }
    return packets.size();
}

}  // namespace ostrevane
