#include "platform/win32_error.h"

#include <windows.h>

#include <stdexcept>

#include "platform/text_encoding.h"

namespace ostrevane {
namespace {

// WinHTTP's codes have their texts in winhttp.dll's own message table, not the system's.
bool IsWinHttpCode(DWORD code) { return code >= 12000 && code <= 12999; }

class MessageModule {
public:
    explicit MessageModule(DWORD code) {
        if (!IsWinHttpCode(code)) {
            return;
        }
        module_ = GetModuleHandleW(L"winhttp.dll");
        if (module_ == nullptr) {
            // Only its resources are read: mapped as data from the system folder, never run.
            module_ = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_AS_DATAFILE);
            owned_ = module_ != nullptr;
        }
    }
    ~MessageModule() {
        if (owned_) {
            FreeLibrary(module_);
        }
    }
    MessageModule(const MessageModule&) = delete;
    MessageModule& operator=(const MessageModule&) = delete;

    HMODULE get() const { return module_; }

private:
    HMODULE module_ = nullptr;
    bool owned_ = false;
};

std::wstring MessageText(DWORD flags, HMODULE module, DWORD code, DWORD language) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | flags, module, code,
                                        language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer != nullptr) {
        text.assign(buffer, length);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    return text;
}

}  // namespace

std::wstring KnownWinHttpText(unsigned long code) {
    // The wording of WinHTTP's own table, for a system whose winhttp.dll carries no table in any
    // language the user can be given: a refused or timed-out request still says why.
    struct Known {
        unsigned long code;
        const wchar_t* text;
    };
    static constexpr Known kKnown[] = {
        {12002, L"The operation timed out"},
        {12005, L"The URL is invalid"},
        {12006, L"The URL does not use a recognized protocol"},
        {12007, L"The server name or address could not be resolved"},
        {12017, L"The operation has been canceled"},
        {12029, L"A connection with the server could not be established"},
        {12030, L"The connection with the server was terminated abnormally"},
        {12152, L"The server returned an invalid or unrecognized response"},
        {12175, L"A security error occurred"},
    };
    for (const Known& known : kKnown) {
        if (known.code == code) {
            return std::wstring(known.text) + L"\r\n";
        }
    }
    return {};
}

std::wstring Win32ErrorText(const std::wstring& what, const std::wstring& systemText) {
    if (systemText.empty()) {
        return what + L" failed.";
    }
    return what + L": " + systemText;
}

std::wstring FormatWin32Error(const std::wstring& what) {
    const DWORD code = GetLastError();
    const MessageModule module(code);
    std::wstring systemText;
    if (module.get() != nullptr) {
        // Language 0: the user's language when the module has it, else the system's, else English.
        // A module's table may lack the user's language, which a fixed language would not find.
        systemText = MessageText(FORMAT_MESSAGE_FROM_HMODULE, module.get(), code, 0);
    }
    if (systemText.empty()) {
        systemText = MessageText(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    }
    if (systemText.empty() && IsWinHttpCode(code)) {
        systemText = KnownWinHttpText(code);
    }
    return Win32ErrorText(what, systemText);
}

void ThrowWin32Error(const std::wstring& what) {
    throw std::runtime_error(WideToUtf8(FormatWin32Error(what)));
}

}  // namespace ostrevane
