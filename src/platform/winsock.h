// Owners for Winsock resources: sockets (INVALID_SOCKET means none), getaddrinfo's answer lists
// and one use of the Winsock library (WSAStartup paired with WSACleanup).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/unique_handle.h"

namespace ostrevane {

struct SocketTraits {
    using Pointer = SOCKET;
    static Pointer Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(Pointer s) noexcept { closesocket(s); }
};

using UniqueSocket = UniqueHandle<SocketTraits>;

struct AddressInfoTraits {  // getaddrinfo's list: null means none
    using Pointer = addrinfo*;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer list) noexcept { freeaddrinfo(list); }
};

using UniqueAddressInfo = UniqueHandle<AddressInfoTraits>;

// One started use of Winsock; the destructor (or End) calls WSACleanup when one is owed.
class WinsockSession {
public:
    WinsockSession() noexcept = default;
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    WinsockSession(WinsockSession&& other) noexcept;
    WinsockSession& operator=(WinsockSession&& other) noexcept;
    ~WinsockSession() { End(); }

    // WSAStartup for version 2.2, ending any use this object already holds first.
    // Returns WSAStartup's result: 0 means started, and a WSACleanup is now owed.
    int Start() noexcept;
    void End() noexcept;
    bool started() const noexcept { return started_; }

private:
    bool started_ = false;
};

// Shuts a socket down in both directions and closes it; the owner is left empty.
void ShutdownAndClose(UniqueSocket& socket) noexcept;

// Ends whatever another thread is doing on the socket without closing it, so that its number
// cannot go to a new socket while that thread still holds it: shuts it down both ways and
// cancels its I/O. On Windows shutdown alone does not end a receive already in progress; the
// cancel does (the call then fails with WSA_OPERATION_ABORTED or WSAEINTR).
void AbortSocketIo(SOCKET socket) noexcept;

// The cancel call AbortSocketIo makes, CancelIoEx unless a test watches it.
using CancelIoFn = BOOL (*)(HANDLE, LPOVERLAPPED);
void SetSocketCancelForTesting(CancelIoFn cancel) noexcept;  // nullptr restores CancelIoEx

// setsockopt for an int or a DWORD option; true when the option was set.
bool SetSocketFlag(SOCKET socket, int level, int option, int value) noexcept;
bool SetSocketTimeout(SOCKET socket, int option, DWORD milliseconds) noexcept;

}  // namespace ostrevane
