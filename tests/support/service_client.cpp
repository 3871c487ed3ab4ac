#include "support/service_client.h"

#include <ws2tcpip.h>

#include <stdexcept>

#include "platform/winsock.h"
#include "settings/json_parser.h"
#include "settings/text_utils.h"

namespace ostrevane::testing {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
    return length > 0 && length < std::size(buffer) ? std::wstring(buffer, length) : std::wstring();
}

}  // namespace

std::wstring ServiceUrl() { return Environment(L"OSTREVANE_TEST_SERVICE_URL"); }

std::uint16_t ServicePort() {
    const std::wstring port = Environment(L"OSTREVANE_TEST_SERVICE_PORT");
    return port.empty() ? 0 : static_cast<std::uint16_t>(std::stoul(port));
}

HttpReply HttpRequest(const std::string& method, const std::string& target, const std::string& jsonBody) {
    WinsockSession winsock;
    if (winsock.Start() != 0) {
        throw std::runtime_error("service client: WSAStartup failed");
    }
    UniqueSocket connection(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    SetSocketTimeout(connection.get(), SO_RCVTIMEO, 10000);
    SetSocketTimeout(connection.get(), SO_SNDTIMEO, 10000);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(ServicePort());
    if (connect(connection.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::runtime_error("service client: connect failed, error " + std::to_string(WSAGetLastError()));
    }
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(ServicePort()) +
                          "\r\nConnection: close\r\n";
    if (method == "POST") {
        request += "Content-Type: application/json; charset=utf-8\r\nContent-Length: " +
                   std::to_string(jsonBody.size()) + "\r\n";
    }
    request += "\r\n" + (method == "POST" ? jsonBody : std::string());
    for (std::size_t offset = 0; offset < request.size();) {
        const int sent = send(connection.get(), request.data() + offset, static_cast<int>(request.size() - offset), 0);
        if (sent < 1) {
            throw std::runtime_error("service client: send failed");
        }
        offset += static_cast<std::size_t>(sent);
    }
    std::string answer;
    char buffer[65536];
    for (int received; (received = recv(connection.get(), buffer, sizeof(buffer), 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(received));
    }
    const std::size_t headEnd = answer.find("\r\n\r\n");
    if (headEnd == std::string::npos || answer.find(' ') == std::string::npos) {
        throw std::runtime_error("service client: no HTTP answer to " + target);
    }
    HttpReply reply;
    reply.head = answer.substr(0, headEnd);
    reply.body = answer.substr(headEnd + 4);
    reply.status = std::atoi(answer.c_str() + answer.find(' ') + 1);
    if (reply.head.find("chunked") != std::string::npos) {
        throw std::runtime_error("service client: chunked answers are not read");
    }
    return reply;
}

JsonValue ServiceCall(const std::string& method, const std::string& target, const std::string& jsonBody) {
    const HttpReply reply = HttpRequest(method, target, jsonBody);
    const JsonValue envelope = ParseJsonDocument(Utf8ToWide(reply.body));
    const bool* success = JsonFindAs<bool>(envelope, L"success");
    if (success == nullptr || !*success) {
        throw std::runtime_error("service refused " + target + ": " + JsonText(envelope, L"code") + " " +
                                 JsonText(envelope, L"message"));
    }
    const JsonValue* data = JsonFind(envelope, L"data");
    return data == nullptr ? JsonValue(nullptr) : *data;
}

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) | (left > 1 ? bytes[i + 1] << 8 : 0) |
                                    (left > 2 ? bytes[i + 2] : 0);
        text.push_back(kAlphabet[(group >> 18) & 63]);
        text.push_back(kAlphabet[(group >> 12) & 63]);
        text.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        text.push_back(left > 2 ? kAlphabet[group & 63] : '=');
    }
    return text;
}

std::vector<std::uint8_t> Base64Decode(const std::wstring& text) {
    std::vector<std::uint8_t> bytes;
    std::uint32_t group = 0;
    int bits = 0;
    for (wchar_t c : text) {
        if (c == L'=') {
            break;
        }
        const char* found = c < 128 ? std::char_traits<char>::find(kAlphabet, 64, static_cast<char>(c)) : nullptr;
        if (found == nullptr) {
            throw std::runtime_error("base64: unexpected character");
        }
        group = (group << 6) | static_cast<std::uint32_t>(found - kAlphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>(group >> bits));
        }
    }
    return bytes;
}

std::string JsonText(const JsonValue& value, const std::wstring& key) {
    const std::wstring* text = JsonFindAs<std::wstring>(value, key);
    return text == nullptr ? std::string() : WideToUtf8(*text);
}

double JsonNumber(const JsonValue& value, const std::wstring& key) {
    const double* number = JsonFindAs<double>(value, key);
    return number == nullptr ? -1 : *number;
}

}  // namespace ostrevane::testing
