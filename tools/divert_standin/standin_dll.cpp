// A stand-in for WinDivert.dll, for tests and the demo on machines where the driver cannot run.
// It exports WinDivert 2.2's entry points that the client uses, with their own signatures.
// Capture handles hand out the packets that a harness sends over loopback UDP, several per
// WinDivertRecvEx when the harness sent them together; everything injected goes back to the
// harness; closing a handle ends a blocked receive; the checksum helper computes real checksums.
#include <winsock2.h>
#include <ws2tcpip.h>

#define WINDIVERTEXPORT extern __declspec(dllexport)
#include "tunnel/divert_types.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ipv4_checksums.h"
#include "standin_protocol.h"

namespace ostrevane::standin {
namespace {

constexpr DWORD kPollMilliseconds = 200;
constexpr DWORD kOpenAnswerMilliseconds = 3000;

constexpr std::size_t kLargestDatagram = 65535 + 64;

struct StandinHandle {
    std::uint32_t id = 0;
    // The last datagram from the harness and how far its packets were handed out; guarded by
    // receiveMutex, which orders the receives of one handle.
    std::mutex receiveMutex;
    std::vector<unsigned char> datagram;
    std::size_t datagramLength = 0;
    std::size_t nextRecord = 0;  // offset of the next undelivered PACKETS record; 0 when none
    SOCKET socket = INVALID_SOCKET;  // owned; closed when the last user lets go
    sockaddr_in harness{};
    std::atomic<bool> closed{false};
    bool winsockStarted = false;

    ~StandinHandle() {
        if (socket != INVALID_SOCKET) {
            closesocket(socket);
        }
        if (winsockStarted) {
            WSACleanup();
        }
    }
};

std::mutex g_mutex;
std::map<std::uint32_t, std::shared_ptr<StandinHandle>> g_handles;  // guarded by g_mutex
std::uint32_t g_nextId = 1;                                         // guarded by g_mutex

HANDLE ToHandle(std::uint32_t id) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x10000 + id * 4)); }

std::shared_ptr<StandinHandle> Find(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value < 0x10000 || (value - 0x10000) % 4 != 0) {
        return nullptr;
    }
    std::lock_guard lock(g_mutex);
    const auto it = g_handles.find(static_cast<std::uint32_t>((value - 0x10000) / 4));
    return it == g_handles.end() ? nullptr : it->second;
}

bool HarnessAddress(sockaddr_in& address) {
    char text[128] = {};
    const DWORD length = GetEnvironmentVariableA(kHarnessVariable, text, sizeof(text));
    if (length == 0 || length >= sizeof(text)) {
        return false;
    }
    const std::string value(text, length);
    const std::size_t colon = value.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(value.c_str() + colon + 1)));
    return inet_pton(AF_INET, value.substr(0, colon).c_str(), &address.sin_addr) == 1;
}

// One outbound packet as the driver reports it.
void FillAddress(WINDIVERT_ADDRESS& address, std::uint32_t interfaceIndex, std::uint32_t subInterfaceIndex) {
    std::memset(&address, 0, sizeof(address));
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    address.Timestamp = now.QuadPart;
    address.Layer = WINDIVERT_LAYER_NETWORK;
    address.Outbound = 1;
    address.Network.IfIdx = interfaceIndex;
    address.Network.SubIfIdx = subInterfaceIndex;
}

// Waits for the next PACKET or PACKETS datagram; false when the handle was closed meanwhile.
bool AwaitPackets(StandinHandle& h) {
    if (h.datagram.size() < kLargestDatagram) {
        h.datagram.resize(kLargestDatagram);  // once per handle
    }
    while (!h.closed.load()) {
        const int received =
            recv(h.socket, reinterpret_cast<char*>(h.datagram.data()), static_cast<int>(h.datagram.size()), 0);
        if (received < 1) {
            continue;  // time-out tick
        }
        const auto length = static_cast<std::size_t>(received);
        if (length >= kPacketHeaderLength && HasHeader(h.datagram.data(), length, Kind::Packet)) {
            h.datagramLength = length;
            h.nextRecord = 0;
            return true;
        }
        if (length >= 5 + kRecordHeaderLength && HasHeader(h.datagram.data(), length, Kind::Packets)) {
            h.datagramLength = length;
            h.nextRecord = 5;
            return true;
        }
    }
    return false;
}

struct Delivered {
    UINT packets = 0;  // 0 with ok set: nothing was left to hand out
    UINT bytes = 0;
    bool ok = true;    // false: the first packet is larger than the caller's buffer (it is lost)
};

// Hands out what is waiting: the single packet of a PACKET datagram, or the records of a PACKETS
// datagram while they fit into the packet buffer and the address array. Packets are written back
// to back, as the driver writes a batch.
Delivered Deliver(StandinHandle& h, unsigned char* packet, UINT packetLen, WINDIVERT_ADDRESS* addresses,
                  UINT addressCount) {
    Delivered out;
    if (h.nextRecord == 0) {
        const auto length = static_cast<UINT>(h.datagramLength - kPacketHeaderLength);
        h.datagramLength = 0;
        if (length > packetLen) {
            out.ok = false;
            return out;
        }
        if (packet != nullptr) {
            std::memcpy(packet, h.datagram.data() + kPacketHeaderLength, length);
        }
        if (addresses != nullptr && addressCount > 0) {
            FillAddress(addresses[0], GetU32(h.datagram.data() + 5), GetU32(h.datagram.data() + 9));
        }
        out.packets = 1;
        out.bytes = length;
        return out;
    }
    while (out.packets < addressCount && h.nextRecord + kRecordHeaderLength <= h.datagramLength) {
        const unsigned char* record = h.datagram.data() + h.nextRecord;
        const UINT length = GetU16(record + 8);
        if (h.nextRecord + kRecordHeaderLength + length > h.datagramLength) {
            h.nextRecord = h.datagramLength;  // a cut record ends the datagram
            break;
        }
        if (out.bytes + length > packetLen) {
            if (out.packets == 0) {
                h.nextRecord += kRecordHeaderLength + length;
                out.ok = false;
            }
            break;  // the rest waits for the next call
        }
        if (packet != nullptr) {
            std::memcpy(packet + out.bytes, record + kRecordHeaderLength, length);
        }
        if (addresses != nullptr) {
            FillAddress(addresses[out.packets], GetU32(record), GetU32(record + 4));
        }
        out.bytes += length;
        ++out.packets;
        h.nextRecord += kRecordHeaderLength + length;
    }
    if (h.nextRecord + kRecordHeaderLength > h.datagramLength) {
        h.datagramLength = 0;
        h.nextRecord = 0;
    }
    return out;
}

BOOL Receive(HANDLE handle, VOID* pPacket, UINT packetLen, UINT* pRecvLen, WINDIVERT_ADDRESS* pAddr,
             UINT addressCount, UINT* pAddrLen) {
    const std::shared_ptr<StandinHandle> h = Find(handle);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(h->receiveMutex);
    for (;;) {
        if (h->datagramLength == 0 && !AwaitPackets(*h)) {
            SetLastError(ERROR_NO_DATA);  // the handle was closed
            return FALSE;
        }
        const Delivered delivered = Deliver(*h, static_cast<unsigned char*>(pPacket), packetLen, pAddr, addressCount);
        if (!delivered.ok) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        if (delivered.packets == 0) {
            continue;  // only a cut record was left
        }
        if (pRecvLen != nullptr) {
            *pRecvLen = delivered.bytes;
        }
        if (pAddrLen != nullptr) {
            *pAddrLen = delivered.packets * static_cast<UINT>(sizeof(WINDIVERT_ADDRESS));
        }
        return TRUE;
    }
}

void SendToHarness(const StandinHandle& handle, const std::vector<unsigned char>& datagram) {
    sendto(handle.socket, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
           reinterpret_cast<const sockaddr*>(&handle.harness), sizeof(handle.harness));
}

// Waits for the harness to accept or refuse the open.
bool AwaitOpened(const StandinHandle& handle) {
    unsigned char buffer[64];
    const ULONGLONG deadline = GetTickCount64() + kOpenAnswerMilliseconds;
    while (GetTickCount64() < deadline) {
        const int received = recv(handle.socket, reinterpret_cast<char*>(buffer), sizeof(buffer), 0);
        if (received >= 10 && HasHeader(buffer, static_cast<std::size_t>(received), Kind::Opened) &&
            GetU32(buffer + 5) == handle.id) {
            return buffer[9] != 0;
        }
    }
    return false;
}

}  // namespace
}  // namespace ostrevane::standin

using namespace ostrevane::standin;

HANDLE WinDivertOpen(const char* filter, WINDIVERT_LAYER layer, INT16 priority, UINT64 flags) {
    auto handle = std::make_shared<StandinHandle>();
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        SetLastError(ERROR_NOT_READY);
        return INVALID_HANDLE_VALUE;
    }
    handle->winsockStarted = true;
    if (!HarnessAddress(handle->harness)) {
        SetLastError(ERROR_FILE_NOT_FOUND);  // as if the driver were missing
        return INVALID_HANDLE_VALUE;
    }
    handle->socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const DWORD timeout = kPollMilliseconds;
    if (handle->socket == INVALID_SOCKET ||
        bind(handle->socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
        setsockopt(handle->socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout)) != 0) {
        SetLastError(ERROR_NOT_READY);
        return INVALID_HANDLE_VALUE;
    }
    {
        std::lock_guard lock(g_mutex);
        handle->id = g_nextId++;
    }
    std::vector<unsigned char> open = Header(Kind::Open);
    PutU32(open, handle->id);
    open.push_back(static_cast<unsigned char>(layer));
    PutU16(open, static_cast<std::uint16_t>(priority));
    PutU64(open, flags);
    const std::size_t filterLength = filter != nullptr ? std::strlen(filter) : 0;
    open.insert(open.end(), filter, filter + filterLength);
    SendToHarness(*handle, open);
    if (!AwaitOpened(*handle)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard lock(g_mutex);
    g_handles[handle->id] = handle;
    return ToHandle(handle->id);
}

BOOL WinDivertRecv(HANDLE handle, VOID* pPacket, UINT packetLen, UINT* pRecvLen, WINDIVERT_ADDRESS* pAddr) {
    return Receive(handle, pPacket, packetLen, pRecvLen, pAddr, 1, nullptr);
}

BOOL WinDivertRecvEx(HANDLE handle, VOID* pPacket, UINT packetLen, UINT* pRecvLen, UINT64 flags,
                     WINDIVERT_ADDRESS* pAddr, UINT* pAddrLen, LPOVERLAPPED lpOverlapped) {
    if (flags != 0 || lpOverlapped != nullptr || pAddr == nullptr ||
        (pAddrLen != nullptr && *pAddrLen < sizeof(WINDIVERT_ADDRESS))) {
        SetLastError(ERROR_INVALID_PARAMETER);  // only blocking receives are stood in for
        return FALSE;
    }
    const UINT count = pAddrLen == nullptr ? 1 : std::min<UINT>(*pAddrLen / sizeof(WINDIVERT_ADDRESS), 0xFF);
    return Receive(handle, pPacket, packetLen, pRecvLen, pAddr, count, pAddrLen);
}

BOOL WinDivertSend(HANDLE handle, const VOID* pPacket, UINT packetLen, UINT* pSendLen, const WINDIVERT_ADDRESS* pAddr) {
    const std::shared_ptr<StandinHandle> h = Find(handle);
    if (!h || h->closed.load() || pPacket == nullptr || pAddr == nullptr) {
        SetLastError(h ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The header on the stack and the packet where it lies, gathered into one datagram.
    unsigned char header[18] = {kMagic[0], kMagic[1], kMagic[2], kMagic[3], static_cast<unsigned char>(Kind::Inject)};
    PutU32(header + 5, h->id);
    PutU32(header + 9, pAddr->Network.IfIdx);
    PutU32(header + 13, pAddr->Network.SubIfIdx);
    header[17] = static_cast<unsigned char>(pAddr->Outbound);
    WSABUF buffers[2] = {{sizeof(header), reinterpret_cast<char*>(header)},
                         {packetLen, static_cast<char*>(const_cast<VOID*>(pPacket))}};
    DWORD sent = 0;
    WSASendTo(h->socket, buffers, 2, &sent, 0, reinterpret_cast<const sockaddr*>(&h->harness), sizeof(h->harness),
              nullptr, nullptr);
    if (pSendLen != nullptr) {
        *pSendLen = packetLen;
    }
    return TRUE;
}

BOOL WinDivertHelperCalcChecksums(VOID* pPacket, UINT packetLen, WINDIVERT_ADDRESS*, UINT64) {
    return CalcIpv4Checksums(static_cast<unsigned char*>(pPacket), packetLen) ? TRUE : FALSE;
}

BOOL WinDivertClose(HANDLE handle) {
    const std::shared_ptr<StandinHandle> h = Find(handle);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard lock(g_mutex);
        g_handles.erase(h->id);
    }
    h->closed = true;  // a blocked receive notices within one poll interval
    std::vector<unsigned char> close = Header(Kind::Close);
    PutU32(close, h->id);
    SendToHarness(*h, close);
    return TRUE;
}
