// A stand-in for WinDivert.dll, for tests and the demo on machines where the driver cannot run.
// It exports WinDivert 2.2's five entry points with their own signatures. Capture handles hand out
// the packets that a harness sends over loopback UDP; everything injected goes back to the harness;
// closing a handle ends a blocked receive; the checksum helper computes real checksums.
#include <winsock2.h>
#include <ws2tcpip.h>

#define WINDIVERTEXPORT extern __declspec(dllexport)
#include "tunnel/divert_types.h"

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

struct StandinHandle {
    std::uint32_t id = 0;
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
    const std::shared_ptr<StandinHandle> h = Find(handle);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::vector<unsigned char> buffer(65535 + 64);
    while (!h->closed.load()) {
        const int received = recv(h->socket, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
        if (received < 13 || !HasHeader(buffer.data(), static_cast<std::size_t>(received), Kind::Packet)) {
            continue;  // time-out tick, or a datagram that is not a packet
        }
        const auto length = static_cast<UINT>(received - 13);
        if (length > packetLen) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        if (pPacket != nullptr) {
            std::memcpy(pPacket, buffer.data() + 13, length);
        }
        if (pRecvLen != nullptr) {
            *pRecvLen = length;
        }
        if (pAddr != nullptr) {
            std::memset(pAddr, 0, sizeof(*pAddr));
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            pAddr->Timestamp = now.QuadPart;
            pAddr->Layer = WINDIVERT_LAYER_NETWORK;
            pAddr->Outbound = 1;
            pAddr->Network.IfIdx = GetU32(buffer.data() + 5);
            pAddr->Network.SubIfIdx = GetU32(buffer.data() + 9);
        }
        return TRUE;
    }
    SetLastError(ERROR_NO_DATA);  // the handle was closed
    return FALSE;
}

BOOL WinDivertSend(HANDLE handle, const VOID* pPacket, UINT packetLen, UINT* pSendLen, const WINDIVERT_ADDRESS* pAddr) {
    const std::shared_ptr<StandinHandle> h = Find(handle);
    if (!h || h->closed.load() || pPacket == nullptr || pAddr == nullptr) {
        SetLastError(h ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::vector<unsigned char> inject = Header(Kind::Inject);
    PutU32(inject, h->id);
    PutU32(inject, pAddr->Network.IfIdx);
    PutU32(inject, pAddr->Network.SubIfIdx);
    inject.push_back(static_cast<unsigned char>(pAddr->Outbound));
    const auto* bytes = static_cast<const unsigned char*>(pPacket);
    inject.insert(inject.end(), bytes, bytes + packetLen);
    SendToHarness(*h, inject);
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
