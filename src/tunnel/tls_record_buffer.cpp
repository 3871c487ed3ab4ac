#include "tunnel/tls_record_buffer.h"

#include <algorithm>
#include <cstring>

namespace ostrevane {

TlsRecordBuffer::TlsRecordBuffer(std::size_t capacity) : encrypted_(std::max(capacity, 2 * kMaxTlsRecord)) {}

std::span<std::uint8_t> TlsRecordBuffer::SpaceForReceive() {
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (encrypted_.size() - end_ < kMaxTlsRecord && begin_ > 0) {
        std::memmove(encrypted_.data(), encrypted_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    return {encrypted_.data() + end_, encrypted_.size() - end_};
}

void TlsRecordBuffer::Received(std::size_t count) { end_ += std::min(count, encrypted_.size() - end_); }

void TlsRecordBuffer::KeepLast(std::size_t unused) { begin_ = end_ - std::min(unused, end_ - begin_); }

void TlsRecordBuffer::AddPlain(std::span<const std::uint8_t> plain) {
    if (plainBegin_ == plain_.size()) {
        plain_.clear();
        plainBegin_ = 0;
    }
    plain_.insert(plain_.end(), plain.begin(), plain.end());
}

std::size_t TlsRecordBuffer::TakePlain(std::uint8_t* out, std::size_t length) {
    const std::size_t count = std::min(length, plain_.size() - plainBegin_);
    std::memcpy(out, plain_.data() + plainBegin_, count);
    plainBegin_ += count;
    return count;
}

}  // namespace ostrevane
