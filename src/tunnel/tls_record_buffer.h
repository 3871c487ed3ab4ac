// The receiving side of a TLS session without the cipher: encrypted bytes as they come off the
// socket wait here until they make whole records (or handshake messages), and decrypted bytes
// wait until the reader takes them, in whatever sizes it asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ostrevane {

// The largest TLS record on the wire: a 5-byte header and at most 2^14 + 2048 bytes of payload.
inline constexpr std::size_t kMaxTlsRecord = 5 + 16384 + 2048;

class TlsRecordBuffer {
public:
    // Holds up to `capacity` encrypted bytes at a time; at least two records' worth.
    explicit TlsRecordBuffer(std::size_t capacity = 4 * kMaxTlsRecord);

    // The encrypted bytes that were received and not yet used, oldest first. The decryption
    // works on them in place.
    std::span<std::uint8_t> Pending() { return {encrypted_.data() + begin_, end_ - begin_}; }

    // Where the next receive may write: the free room behind the pending bytes, which are moved
    // to the front first when that room is smaller than a record. Empty when the pending bytes
    // fill the whole buffer (they cannot be a record that is still incomplete).
    std::span<std::uint8_t> SpaceForReceive();
    void Received(std::size_t count);  // `count` bytes were written to SpaceForReceive

    // A handshake step or a decryption used the pending bytes except the last `unused` ones,
    // which belong to the next message.
    void KeepLast(std::size_t unused);

    // Decrypted bytes to hand out before anything else is decrypted.
    void AddPlain(std::span<const std::uint8_t> plain);
    bool HasPlain() const { return plainBegin_ < plain_.size(); }
    std::size_t TakePlain(std::uint8_t* out, std::size_t length);

private:
    std::vector<std::uint8_t> encrypted_;
    std::size_t begin_ = 0;  // pending bytes: [begin_, end_)
    std::size_t end_ = 0;
    std::vector<std::uint8_t> plain_;
    std::size_t plainBegin_ = 0;  // not yet handed out: [plainBegin_, plain_.size())
};

}  // namespace ostrevane
