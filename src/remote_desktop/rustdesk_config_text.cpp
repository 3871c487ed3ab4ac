#include "remote_desktop/rustdesk_config_text.h"

#include <algorithm>

#include "remote_desktop/toml_string.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

std::wstring QuotedLine(const wchar_t* key, const std::wstring& value) {
    return std::wstring(key) + L" = " + EscapeTomlText(value) + L"\n";
}

}  // namespace

std::optional<std::string> RustDeskConfigText(const JsonValue& server) {
    const std::wstring rendezvous = JsonStringOr(server, L"rendezvousServer");
    if (rendezvous.empty()) {
        return std::nullopt;
    }
    const std::wstring apiServer = JsonStringOr(server, L"apiServer");
    std::wstring text = QuotedLine(L"rendezvous_server", rendezvous);
    text += L"\n[options]\n";
    text += QuotedLine(L"custom-rendezvous-server", rendezvous);
    text += QuotedLine(L"relay-server", JsonStringOr(server, L"relayServer"));
    text += QuotedLine(L"key", JsonStringOr(server, L"key"));
    if (!apiServer.empty()) {
        text += QuotedLine(L"api-server", apiServer);
    }
    return WideToUtf8(text);
}

void AddPathOnce(std::vector<std::wstring>& paths, std::wstring path) {
    const bool known = std::any_of(paths.begin(), paths.end(),
                                   [&](const std::wstring& listed) { return EqualsIgnoringCase(listed, path); });
    if (!known) {
        paths.push_back(std::move(path));
    }
}

}  // namespace ostrevane
