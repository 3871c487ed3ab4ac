#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <utility>

namespace ostrevane {
namespace {

// True while the handle names an open socket.
bool IsOpenSocket(SOCKET socket) {
    int type = 0;
    int size = sizeof(type);
    return getsockopt(socket, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0;
}

class WinsockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(session_.Start(), 0); }
    WinsockSession session_;
};

TEST_F(WinsockTest, SessionOwesOneCleanupAndMovesIt) {
    EXPECT_TRUE(session_.started());
    WinsockSession moved(std::move(session_));
    EXPECT_TRUE(moved.started());
    EXPECT_FALSE(session_.started());
    WinsockSession assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(assigned.started());
    assigned.End();
    EXPECT_FALSE(assigned.started());
    assigned.End();  // a second end owes nothing
    EXPECT_FALSE(assigned.started());
    EXPECT_EQ(session_.Start(), 0);
}

TEST_F(WinsockTest, SocketIsClosedWhenItsOwnerGoes) {
    SOCKET raw = INVALID_SOCKET;
    {
        UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        ASSERT_TRUE(socket);
        raw = socket.get();
        EXPECT_TRUE(IsOpenSocket(raw));
    }
    EXPECT_FALSE(IsOpenSocket(raw));
}

TEST_F(WinsockTest, MovedAndReleasedSocketsAreNotClosedTwice) {
    UniqueSocket first(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    const SOCKET raw = first.get();
    UniqueSocket second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), raw);
    const SOCKET released = second.release();
    EXPECT_FALSE(second);
    second.reset();
    second.reset();
    EXPECT_TRUE(IsOpenSocket(released)) << "a released socket belongs to the caller";
    closesocket(released);
}

TEST_F(WinsockTest, ShutdownAndCloseEmptiesTheOwner) {
    UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const SOCKET raw = socket.get();
    ShutdownAndClose(socket);
    EXPECT_FALSE(socket);
    EXPECT_FALSE(IsOpenSocket(raw));
    ShutdownAndClose(socket);  // nothing left to close
}

TEST_F(WinsockTest, SetsFlagsAndTimeouts) {
    UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_TRUE(SetSocketFlag(socket.get(), IPPROTO_TCP, TCP_NODELAY, 1));
    ASSERT_TRUE(SetSocketTimeout(socket.get(), SO_RCVTIMEO, 8000));
    int noDelay = 0;
    DWORD timeout = 0;
    int size = sizeof(noDelay);
    getsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay), &size);
    size = sizeof(timeout);
    getsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), &size);
    EXPECT_NE(noDelay, 0);
    EXPECT_EQ(timeout, 8000u);
    EXPECT_FALSE(SetSocketFlag(INVALID_SOCKET, SOL_SOCKET, SO_KEEPALIVE, 1));
}

}  // namespace
}  // namespace ostrevane
