#include "platform/win32_error.h"

#include <windows.h>

#include <stdexcept>

#include "platform/text_encoding.h"

namespace ostrevane {

std::wstring Win32ErrorText(const std::wstring& what, const std::wstring& systemText) {
    if (systemText.empty()) {
        return what + L" failed.";
    }
    return what + L": " + systemText;
}

std::wstring FormatWin32Error(const std::wstring& what) {
    const DWORD code = GetLastError();
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring systemText;
    if (length > 0 && buffer != nullptr) {
        systemText.assign(buffer, length);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    return Win32ErrorText(what, systemText);
}

void ThrowWin32Error(const std::wstring& what) {
    throw std::runtime_error(WideToUtf8(FormatWin32Error(what)));
}

}  // namespace ostrevane
