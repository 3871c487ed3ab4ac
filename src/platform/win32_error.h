// Turning the calling thread's last Win32 error into a message text, and into an exception for
// code paths that fail by throwing (the HTTP transport).
#pragma once

#include <string>

namespace ostrevane {

// "what: <system text>" (the system text as returned, trailing line break included), or
// "what failed." when the system has no text for the code.
std::wstring Win32ErrorText(const std::wstring& what, const std::wstring& systemText);

// The English text of a common WinHTTP code (12000..12999) with its line break, as WinHTTP's own
// table words it; empty for other codes.
std::wstring KnownWinHttpText(unsigned long code);

// Win32ErrorText for GetLastError(), read before anything else can change it. WinHTTP's codes take
// their text from winhttp.dll's table, or KnownWinHttpText when it has none.
std::wstring FormatWin32Error(const std::wstring& what);

// Throws std::runtime_error carrying FormatWin32Error(what) in UTF-8.
[[noreturn]] void ThrowWin32Error(const std::wstring& what);

}  // namespace ostrevane
