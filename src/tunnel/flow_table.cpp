#include "tunnel/flow_table.h"

#include "tunnel/byte_order.h"

#include <algorithm>

namespace ostrevane {
namespace {

// Reads the key with "local" at the given address and port offsets; the view comes from
// validation, so the transport header holds at least eight bytes.
FlowKey ReadFlowKey(const std::uint8_t* packet, const PacketView& view, std::size_t localAddressOffset,
                    std::size_t remoteAddressOffset, std::size_t localPortOffset, std::size_t remotePortOffset) {
    const std::uint8_t* transport = packet + view.headerLength;
    FlowKey key;
    key.protocol = view.protocol;
    key.localAddress = ReadBe32(packet + localAddressOffset);
    key.remoteAddress = ReadBe32(packet + remoteAddressOffset);
    if (view.protocol == kProtocolIcmp) {
        key.localPort = ReadBe16(transport + kIcmpIdentifierOffset);
        key.remotePort = 0;
    } else {
        key.localPort = ReadBe16(transport + localPortOffset);
        key.remotePort = ReadBe16(transport + remotePortOffset);
    }
    return key;
}

constexpr std::uint64_t kSweepIntervalMs = 10000;
constexpr std::size_t kTcpFlagsOffset = 13;
constexpr std::uint8_t kTcpFinOrRst = 0x01 | 0x04;

}  // namespace

bool FlowTable::Aged(const FlowKey& key, const FlowEntry& entry, std::uint64_t nowMs) const {
    std::uint64_t limit = timeouts_.udpMs;
    if (key.protocol == kProtocolTcp) {
        limit = entry.replied && !entry.closing ? timeouts_.tcpEstablishedMs : timeouts_.tcpTransitoryMs;
    } else if (key.protocol == kProtocolIcmp) {
        limit = timeouts_.icmpMs;
    }
    return nowMs - entry.lastUsedMs > limit;
}

void FlowTable::Touch(Map::iterator found, std::uint64_t nowMs) {
    found->second.lastUsedMs = nowMs;
    useOrder_.splice(useOrder_.end(), useOrder_, found->second.useOrder);
}

void FlowTable::Erase(Map::iterator found) {
    useOrder_.erase(found->second.useOrder);
    entries_.erase(found);
}

void FlowTable::Record(const FlowKey& key, const FlowEntry& entry, std::uint64_t nowMs, bool closing) {
    if (nowMs - lastSweepMs_ >= kSweepIntervalMs) {
        Expire(nowMs);
    }
    auto found = entries_.find(key);
    if (found != entries_.end() && Aged(key, found->second, nowMs)) {
        Erase(found);  // a new flow that reuses the key starts afresh
        found = entries_.end();
    }
    if (found == entries_.end()) {
        if (entries_.size() >= capacity_) {
            Expire(nowMs);
        }
        while (!entries_.empty() && entries_.size() >= capacity_) {
            Erase(entries_.find(useOrder_.front()));
        }
        found = entries_.emplace(key, FlowEntry{}).first;
        found->second.useOrder = useOrder_.insert(useOrder_.end(), key);
    }
    FlowEntry& stored = found->second;
    stored.untranslatedSource = entry.untranslatedSource;
    stored.untranslatedDestination = entry.untranslatedDestination;
    stored.interfaceIndex = entry.interfaceIndex;
    stored.subInterfaceIndex = entry.subInterfaceIndex;
    stored.closing = stored.closing || closing;
    Touch(found, nowMs);
}

const FlowEntry* FlowTable::FindReply(const FlowKey& key, std::uint64_t nowMs, bool closing) {
    const auto found = entries_.find(key);
    if (found == entries_.end()) {
        return nullptr;
    }
    if (Aged(key, found->second, nowMs)) {
        Erase(found);
        return nullptr;
    }
    found->second.replied = true;
    found->second.closing = found->second.closing || closing;
    Touch(found, nowMs);
    return &found->second;
}

void FlowTable::Expire(std::uint64_t nowMs) {
    lastSweepMs_ = nowMs;
    const std::uint64_t shortest =
        std::min({timeouts_.tcpEstablishedMs, timeouts_.tcpTransitoryMs, timeouts_.udpMs, timeouts_.icmpMs});
    // Least recently used first: past the first entry younger than the shortest time-out,
    // nothing can have aged.
    for (auto key = useOrder_.begin(); key != useOrder_.end();) {
        const auto found = entries_.find(*key);
        ++key;
        if (nowMs - found->second.lastUsedMs <= shortest) {
            break;
        }
        if (Aged(found->first, found->second, nowMs)) {
            Erase(found);
        }
    }
}

void FlowTable::clear() {
    entries_.clear();
    useOrder_.clear();
}

bool EndsTcpConnection(std::span<const std::uint8_t> packet, const PacketView& view) {
    const std::size_t flags = view.headerLength + kTcpFlagsOffset;
    return view.protocol == kProtocolTcp && flags < view.totalLength && flags < packet.size() &&
           (packet[flags] & kTcpFinOrRst) != 0;
}

FlowKey OutboundFlowKey(std::span<const std::uint8_t> packet, const PacketView& view) {
    return ReadFlowKey(packet.data(), view, kIpSourceOffset, kIpDestinationOffset, kSourcePortOffset,
                       kDestinationPortOffset);
}

FlowKey InboundFlowKey(std::span<const std::uint8_t> packet, const PacketView& view) {
    return ReadFlowKey(packet.data(), view, kIpDestinationOffset, kIpSourceOffset, kDestinationPortOffset,
                       kSourcePortOffset);
}

}  // namespace ostrevane
