#include "platform/winsock.h"

#include <atomic>
#include <utility>

namespace ostrevane {
namespace {

BOOL CancelIoExCall(HANDLE handle, LPOVERLAPPED overlapped) { return CancelIoEx(handle, overlapped); }

std::atomic<CancelIoFn> socketCancel{&CancelIoExCall};

}  // namespace

WinsockSession::WinsockSession(WinsockSession&& other) noexcept
    : started_(std::exchange(other.started_, false)) {}

WinsockSession& WinsockSession::operator=(WinsockSession&& other) noexcept {
    if (this != &other) {
        End();
        started_ = std::exchange(other.started_, false);
    }
    return *this;
}

int WinsockSession::Start() noexcept {
    End();
    WSADATA data{};
    const int result = WSAStartup(MAKEWORD(2, 2), &data);
    started_ = result == 0;
    return result;
}

void WinsockSession::End() noexcept {
    if (std::exchange(started_, false)) {
        WSACleanup();
    }
}

void ShutdownAndClose(UniqueSocket& socket) noexcept {
    if (socket) {
        shutdown(socket.get(), SD_BOTH);
        socket.reset();
    }
}

void AbortSocketIo(SOCKET socket) noexcept {
    if (socket == INVALID_SOCKET) {
        return;
    }
    shutdown(socket, SD_BOTH);
    socketCancel.load()(reinterpret_cast<HANDLE>(socket), nullptr);
}

void SetSocketCancelForTesting(CancelIoFn cancel) noexcept {
    socketCancel = cancel != nullptr ? cancel : &CancelIoExCall;
}

bool SetSocketFlag(SOCKET socket, int level, int option, int value) noexcept {
    return setsockopt(socket, level, option, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

bool SetSocketTimeout(SOCKET socket, int option, DWORD milliseconds) noexcept {
    return setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
                      sizeof(milliseconds)) == 0;
}

}  // namespace ostrevane
