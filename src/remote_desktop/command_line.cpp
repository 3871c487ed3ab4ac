#include "remote_desktop/command_line.h"

namespace ostrevane {

std::wstring QuoteArgument(const std::wstring& argument) {
    const std::wstring text = argument.substr(0, argument.find(L'\0'));
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            // 2n backslashes read back as n, and one more makes the quotation mark literal.
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    // Backslashes before the closing quote would otherwise escape it.
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring BuildParameterText(const std::vector<std::wstring>& arguments) {
    std::wstring text;
    for (const std::wstring& argument : arguments) {
        if (!text.empty()) {
            text.push_back(L' ');
        }
        text += QuoteArgument(argument);
    }
    return text;
}

}  // namespace ostrevane
