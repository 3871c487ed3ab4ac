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

}  // namespace ostrevane
