#include "support/divert_harness.h"

#include <ws2tcpip.h>

#include <algorithm>

#include "divert_standin/standin_protocol.h"

namespace ostrevane::testing {

using namespace ostrevane::standin;

std::wstring DivertStandinDirectory() { return std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\divert_standin"; }

DivertHarness::DivertHarness() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof(local));
    const DWORD timeout = 100;
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    int length = sizeof(local);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
    SetEnvironmentVariableA(kHarnessVariable, address.c_str());
    thread_ = std::thread([this] { Run(); });
}

DivertHarness::~DivertHarness() {
    stop_ = true;
    thread_.join();
    closesocket(socket_);
    SetEnvironmentVariableA(kHarnessVariable, nullptr);
    WSACleanup();
}

void DivertHarness::Run() {
    std::vector<unsigned char> buffer(70000);
    while (!stop_) {
        sockaddr_in from{};
        int fromLength = sizeof(from);
        const int received = recvfrom(socket_, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()),
                                      0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 9) {
            continue;
        }
        const auto length = static_cast<std::size_t>(received);
        const unsigned char* p = buffer.data();
        std::lock_guard lock(mutex_);
        if (HasHeader(p, length, Kind::Open) && length >= 20) {
            HarnessOpen open;
            open.handle = GetU32(p + 5);
            open.layer = p[9];
            open.priority = static_cast<std::int16_t>((p[10] << 8) | p[11]);
            for (int i = 0; i < 8; ++i) {
                open.flags = (open.flags << 8) | p[12 + i];
            }
            open.filter.assign(reinterpret_cast<const char*>(p + 20), length - 20);
            open.from = from;
            std::vector<unsigned char> answer = Header(Kind::Opened);
            PutU32(answer, open.handle);
            answer.push_back(refuseOpens_ ? 0 : 1);
            sendto(socket_, reinterpret_cast<const char*>(answer.data()), static_cast<int>(answer.size()), 0,
                   reinterpret_cast<const sockaddr*>(&from), sizeof(from));
            if (!refuseOpens_) {
                opens_.push_back(open);
            }
        } else if (HasHeader(p, length, Kind::Inject) && length >= 18) {
            HarnessInjection injection;
            injection.handle = GetU32(p + 5);
            injection.interfaceIndex = GetU32(p + 9);
            injection.subInterfaceIndex = GetU32(p + 13);
            injection.outbound = p[17] != 0;
            injection.packet.assign(p + 18, p + length);
            injections_.push_back(std::move(injection));
        } else if (HasHeader(p, length, Kind::Close)) {
            closes_.push_back(GetU32(p + 5));
        }
        changed_.notify_all();
    }
}

std::vector<HarnessOpen> DivertHarness::Opens() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

std::vector<std::uint32_t> DivertHarness::Closes() const {
    std::lock_guard lock(mutex_);
    return closes_;
}

bool DivertHarness::WaitForCaptureHandle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(opens_.begin(), opens_.end(), [&](const HarnessOpen& open) {
            const bool closed = std::find(closes_.begin(), closes_.end(), open.handle) != closes_.end();
            return (open.flags & 8) == 0 && !closed;
        });
    });
}

bool DivertHarness::SendDatagram(const std::vector<unsigned char>& datagram) {
    sockaddr_in target{};
    {
        std::lock_guard lock(mutex_);
        const auto capture = std::find_if(opens_.rbegin(), opens_.rend(), [](const HarnessOpen& o) { return (o.flags & 8) == 0; });
        if (capture == opens_.rend()) {
            return false;
        }
        target = capture->from;
    }
    return sendto(socket_, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
                  reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == static_cast<int>(datagram.size());
}

bool DivertHarness::SendPacket(const std::vector<unsigned char>& packet, std::uint32_t interfaceIndex,
                               std::uint32_t subInterfaceIndex) {
    std::vector<unsigned char> datagram = Header(Kind::Packet);
    PutU32(datagram, interfaceIndex);
    PutU32(datagram, subInterfaceIndex);
    datagram.insert(datagram.end(), packet.begin(), packet.end());
    return SendDatagram(datagram);
}

bool DivertHarness::SendPackets(const std::vector<std::vector<unsigned char>>& packets, std::uint32_t interfaceIndex,
                                std::uint32_t subInterfaceIndex) {
    std::vector<unsigned char> datagram = Header(Kind::Packets);
    for (const std::vector<unsigned char>& packet : packets) {
        PutU32(datagram, interfaceIndex);
        PutU32(datagram, subInterfaceIndex);
        PutU16(datagram, static_cast<std::uint16_t>(packet.size()));
        datagram.insert(datagram.end(), packet.begin(), packet.end());
    }
    return SendDatagram(datagram);
}

std::optional<HarnessInjection> DivertHarness::NextInjection(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return !injections_.empty(); })) {
        return std::nullopt;
    }
    HarnessInjection injection = std::move(injections_.front());
    injections_.pop_front();
    return injection;
}

}  // namespace ostrevane::testing
