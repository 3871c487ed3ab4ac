#include "platform/winsock.h"

#include <utility>

namespace ostrevane {

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

bool SetSocketFlag(SOCKET socket, int level, int option, int value) noexcept {
    return setsockopt(socket, level, option, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

bool SetSocketTimeout(SOCKET socket, int option, DWORD milliseconds) noexcept {
    return setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
                      sizeof(milliseconds)) == 0;
}

}  // namespace ostrevane
