#include "app/display_text.h"

#include <algorithm>

#include "settings/text_utils.h"

namespace ostrevane {

std::wstring ShortenForDisplay(const std::wstring& text, std::size_t maximum) {
    std::wstring line = TrimWhitespace(text);
    line.resize(std::min(line.size(), line.find_first_of(L"\r\n")));
    if (line.size() <= maximum) {
        return line;
    }
    constexpr std::size_t kEllipsisLength = 3;
    line.resize(maximum > kEllipsisLength ? maximum - kEllipsisLength : 0);
    return line + L"...";
}

std::wstring StatusLineOf(const std::wstring& message) {
    std::size_t end = message.size();
    while (end > 0) {
        const std::size_t breakAt = message.find_last_of(L"\r\n", end - 1);
        const std::size_t start = breakAt == std::wstring::npos ? 0 : breakAt + 1;
        std::wstring line = TrimWhitespace(message.substr(start, end - start));
        if (!line.empty() || breakAt == std::wstring::npos) {
            return line;
        }
        end = breakAt;
    }
    return {};
}

}  // namespace ostrevane
