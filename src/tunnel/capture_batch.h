// The packets of one batched WinDivert receive: the driver writes them back to back into one
// buffer and one address record per packet into an array, so each packet's end is found from
// its own IPv4 total length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ostrevane {

// Splits the `received` bytes of a batch of `count` packets into `packets` (cleared first; its
// capacity is kept for the next batch). A lone packet is all the bytes. A length field that
// is too small or runs past the bytes ends the split there: the bytes that follow cannot be
// placed, and those packets are lost. Returns how many packets were found.
std::size_t SplitCaptureBatch(std::span<std::uint8_t> received, std::size_t count,
                              std::vector<std::span<std::uint8_t>>& packets);

}  // namespace ostrevane
