// The remote-desktop request text, the session read from the answer, and the status lines.
#include "remote_desktop/remote_desktop_request.h"

#include <gtest/gtest.h>

#include "settings/json_parser.h"

namespace ostrevane {
namespace {

TEST(RemoteDesktopSessionPath, DeviceNumberIsPercentEncoded) {
    EXPECT_EQ(RemoteDesktopSessionPath(L"SITE-0001"), L"/api/devices/SITE-0001/remote-desktop/session");
    EXPECT_EQ(RemoteDesktopSessionPath(L"A 1/中?#"), L"/api/devices/A%201%2F%E4%B8%AD%3F%23/remote-desktop/session");
    EXPECT_EQ(RemoteDesktopSessionPath(L""), L"/api/devices//remote-desktop/session");
}

TEST(RemoteDesktopSessionBody, ThreeEscapedMembersWithoutBlanks) {
    EXPECT_EQ(RemoteDesktopSessionBody(L"SITE-0001", L"OVK-1", L"ENG-12345678"),
              L"{\"deviceNumber\":\"SITE-0001\",\"deviceSecret\":\"OVK-1\",\"engineerId\":\"ENG-12345678\"}");
    EXPECT_EQ(RemoteDesktopSessionBody(L"a\"b", L"c\\d\r\n", L"中"),
              L"{\"deviceNumber\":\"a\\\"b\",\"deviceSecret\":\"c\\\\d\\r\\n\",\"engineerId\":\"中\"}");
    EXPECT_EQ(RemoteDesktopSessionBody(L"", L"", L""), L"{\"deviceNumber\":\"\",\"deviceSecret\":\"\",\"engineerId\":\"\"}");
}

TEST(ReadRemoteDesktopSession, MembersOfTheDemoAnswer) {
    const RemoteDesktopSession session = ReadRemoteDesktopSession(ParseJsonDocument(
        LR"({"rustDeskId":"318 402 775","accessPassword":"demo-8842","server":{"rendezvousServer":"r","key":"k"}})"));
    EXPECT_EQ(session.rustDeskId, L"318 402 775");
    EXPECT_EQ(session.accessPassword, L"demo-8842");
    ASSERT_TRUE(session.server.has_value());
    EXPECT_EQ(*session.server, ParseJsonDocument(LR"({"rendezvousServer":"r","key":"k"})"));
}

TEST(ReadRemoteDesktopSession, MissingOrWrongTypedMembersAreEmpty) {
    const RemoteDesktopSession none = ReadRemoteDesktopSession(ParseJsonDocument(L"{}"));
    EXPECT_EQ(none.rustDeskId, L"");
    EXPECT_EQ(none.accessPassword, L"");
    EXPECT_FALSE(none.server.has_value());

    const RemoteDesktopSession typed =
        ReadRemoteDesktopSession(ParseJsonDocument(LR"({"rustDeskId":318402775,"accessPassword":null,"server":"x"})"));
    EXPECT_EQ(typed.rustDeskId, L"");
    EXPECT_EQ(typed.accessPassword, L"");
    ASSERT_TRUE(typed.server.has_value());  // any type is passed on as it is
    EXPECT_EQ(*typed.server, JsonValue(std::wstring(L"x")));

    EXPECT_FALSE(ReadRemoteDesktopSession(JsonValue(nullptr)).server.has_value());
    EXPECT_FALSE(ReadRemoteDesktopSession(ParseJsonDocument(LR"([{"server":{}}])")).server.has_value());
}

TEST(RemoteDesktopOpenedMessage, PasswordNotes) {
    EXPECT_EQ(RemoteDesktopOpenedMessage(L"318 402 775", true, true), L"远程桌面已打开：318 402 775，访问密码已复制。");
    EXPECT_EQ(RemoteDesktopOpenedMessage(L"318 402 775", true, false),
              L"远程桌面已打开：318 402 775，访问密码复制失败，请手动复制。");
    EXPECT_EQ(RemoteDesktopOpenedMessage(L"318 402 775", false, false), L"远程桌面已打开：318 402 775。");
    EXPECT_EQ(RemoteDesktopOpenedMessage(L"", false, true), L"远程桌面已打开：。");
    EXPECT_EQ(RemoteDesktopOpenedMessage(L"", true, true), L"远程桌面已打开：，访问密码已复制。");
}

}  // namespace
}  // namespace ostrevane
