#include "support/service_client.h"

#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "platform/winsock.h"
#include "settings/json_parser.h"
#include "settings/text_utils.h"
#include "tunnel/byte_stream.h"
#include "tunnel/tls_channel.h"

namespace ostrevane::testing {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
    return length > 0 && length < std::size(buffer) ? std::wstring(buffer, length) : std::wstring();
}

constexpr wchar_t kTlsLoopback[] = L"https://127.0.0.1:";

// The test's own connection as a stream, for the TLS session of a service in TLS mode.
class SocketStream : public ByteStream {
public:
    explicit SocketStream(SOCKET socket) : socket_(socket) {}
    int Receive(std::uint8_t* buffer, int length) override {
        const int received = recv(socket_, reinterpret_cast<char*>(buffer), length, 0);
        receiveError = received < 1 ? WSAGetLastError() : 0;
        return received;
    }
    int Send(const std::uint8_t* data, int length) override {
        const int sent = send(socket_, reinterpret_cast<const char*>(data), length, 0);
        sendError = sent < 1 ? WSAGetLastError() : 0;
        return sent;
    }

private:
    SOCKET socket_;
};

}  // namespace

// Wine matches a certificate against its DNS names only, never its IP entries, so a service in
// TLS mode is named by the name its certificate carries for 127.0.0.1.
std::wstring ServiceUrl() {
    std::wstring url = Environment(L"OSTREVANE_TEST_SERVICE_URL");
    if (url.starts_with(kTlsLoopback)) {
        url.replace(8, 9, L"localhost");
    }
    return url;
}

bool ServiceUsesTls() { return ServiceUrl().starts_with(L"https://"); }

std::string CertificateToRefuse() { return WideToUtf8(Environment(L"OSTREVANE_TEST_TLS_REFUSAL")); }

std::uintmax_t RequestLogSize() {
    std::wstring path = Environment(L"OSTREVANE_TEST_REQUEST_LOG");
    std::replace(path.begin(), path.end(), L'/', L'\\');
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (path.empty() || !GetFileAttributesExW((L"Z:" + path).c_str(), GetFileExInfoStandard, &attributes)) {
        ADD_FAILURE() << "no request log at " << WideToUtf8(path);
        return 0;
    }
    return (std::uintmax_t{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow;
}

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
    SocketStream plain(connection.get());
    std::unique_ptr<TlsChannel> tls;
    if (ServiceUsesTls()) {
        tls = std::make_unique<TlsChannel>(plain, L"localhost");
        tls->Handshake();
    }
    ByteStream& stream = tls ? static_cast<ByteStream&>(*tls) : plain;
    if (!SendAll(stream, reinterpret_cast<const std::uint8_t*>(request.data()), request.size())) {
        throw std::runtime_error("service client: send failed");
    }
    std::string answer;
    std::uint8_t buffer[65536];
    for (int received; (received = stream.Receive(buffer, sizeof(buffer))) > 0;) {
        answer.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(received));
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
