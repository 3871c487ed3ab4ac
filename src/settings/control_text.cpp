#include "settings/control_text.h"

#include <vector>

namespace ostrevane {

std::wstring ReadControlText(HWND control) {
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) {
        return {};
    }
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(control, buffer.data(), length + 1);
    if (copied <= 0) {
        return {};
    }
    // The reported length may exceed what was copied (DBCS controls); keep what arrived.
    return std::wstring(buffer.data(), static_cast<std::size_t>(copied < length ? copied : length));
}

}  // namespace ostrevane
