// The connection table of the tunnel: for every outbound flow, the addresses that the local
// program used and the interface it left from, so that the site's replies can be put back.
// Entries age out and the table is capped, so that a port scan or a day of DNS lookups on a
// stable relay cannot grow it without bound.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <span>

#include "tunnel/packet.h"

namespace ostrevane {

// A flow as the tunnel address sees it. "Local" is this side of the tunnel, "remote" the site
// device; for ICMP the local port is the echo identifier and the remote port is 0. Ordered
// field by field in declaration order.
struct FlowKey {
    std::uint8_t protocol = 0;
    std::uint32_t localAddress = 0;
    std::uint16_t localPort = 0;
    std::uint32_t remoteAddress = 0;
    std::uint16_t remotePort = 0;

    friend auto operator<=>(const FlowKey&, const FlowKey&) = default;
};

struct FlowEntry {
    std::uint32_t untranslatedSource = 0;       // the local address the program sent from
    std::uint32_t untranslatedDestination = 0;  // the address it sent to (inside the mapping network when remapped)
    std::uint32_t interfaceIndex = 0;           // of the outbound packet's diversion record
    std::uint32_t subInterfaceIndex = 0;

    // Kept by the table for ageing; not part of what an entry says about the flow.
    std::uint64_t lastUsedMs = 0;
    bool replied = false;  // a reply came back
    bool closing = false;  // TCP: a FIN or RST went either way
    std::list<FlowKey>::iterator useOrder{};

    friend bool operator==(const FlowEntry& a, const FlowEntry& b) {
        return a.untranslatedSource == b.untranslatedSource && a.untranslatedDestination == b.untranslatedDestination &&
               a.interfaceIndex == b.interfaceIndex && a.subInterfaceIndex == b.subInterfaceIndex;
    }
};

// Idle times after which an entry goes. TCP follows the NAT rules for TCP (RFC 5382): an
// established connection survives 2 h 4 min without a packet (keep-alives come every 2 h), a
// transitory one (no reply yet, or a FIN or RST seen) 4 min, which covers the peer's TIME-WAIT
// retransmissions. UDP gets 2 min, the least RFC 4787 allows: the tunnel's UDP is mostly DNS,
// whose lookups each use a new port and never come back after their answer. ICMP echo gets
// 60 s (RFC 5508).
struct FlowTimeouts {
    std::uint64_t tcpEstablishedMs = 7440000;
    std::uint64_t tcpTransitoryMs = 240000;
    std::uint64_t udpMs = 120000;
    std::uint64_t icmpMs = 60000;
};

class FlowTable {
public:
    using Map = std::map<FlowKey, FlowEntry>;
    // 32768 flows take about 4 MiB; more than a busy engineer's machine keeps open at once.
    static constexpr std::size_t kCapacity = 32768;

    explicit FlowTable(std::size_t capacity = kCapacity, FlowTimeouts timeouts = {})
        : capacity_(capacity), timeouts_(timeouts) {}

    // An outbound packet: records or refreshes its flow. A new flow in a full table first
    // drops the aged entries and then, if still full, the least recently used one.
    void Record(const FlowKey& key, const FlowEntry& entry, std::uint64_t nowMs, bool closing);

    // A reply: its live entry, refreshed, or null when there is none or it has aged out (then
    // it is dropped). The pointer is valid until the next change of the table.
    const FlowEntry* FindReply(const FlowKey& key, std::uint64_t nowMs, bool closing);

    // Drops every entry idle for longer than its time-out.
    void Expire(std::uint64_t nowMs);

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    std::size_t count(const FlowKey& key) const { return entries_.count(key); }
    const FlowEntry& at(const FlowKey& key) const { return entries_.at(key); }
    Map::const_iterator find(const FlowKey& key) const { return entries_.find(key); }
    Map::const_iterator begin() const { return entries_.begin(); }
    Map::const_iterator end() const { return entries_.end(); }
    void clear();

private:
    bool Aged(const FlowKey& key, const FlowEntry& entry, std::uint64_t nowMs) const;
    void Touch(Map::iterator found, std::uint64_t nowMs);
    void Erase(Map::iterator found);

    std::size_t capacity_;
    FlowTimeouts timeouts_;
    Map entries_;
    std::list<FlowKey> useOrder_;  // least recently used first
    std::uint64_t lastSweepMs_ = 0;
};

// Key of an outbound packet after rewriting: source as local, destination as remote.
FlowKey OutboundFlowKey(std::span<const std::uint8_t> packet, const PacketView& view);

// Key of a reply as it arrives from the site: destination as local, source as remote.
FlowKey InboundFlowKey(std::span<const std::uint8_t> packet, const PacketView& view);

// Whether a TCP packet carries FIN or RST; false for every other packet.
bool EndsTcpConnection(std::span<const std::uint8_t> packet, const PacketView& view);

}  // namespace ostrevane
