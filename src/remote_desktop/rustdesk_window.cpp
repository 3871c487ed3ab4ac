#include "remote_desktop/rustdesk_window.h"

#include "settings/text_utils.h"

namespace ostrevane {

TitleMatch MatchRustDeskTitle(const std::wstring& title, const std::wstring& id) {
    if (!id.empty() && title.find(id) != std::wstring::npos) {
        return TitleMatch::Id;
    }
    if (LowerCaseText(title).find(L"rustdesk") != std::wstring::npos) {
        return TitleMatch::Name;
    }
    return TitleMatch::None;
}

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool SameExecutableName(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && EqualsIgnoringCase(a, b);
}

}  // namespace ostrevane
