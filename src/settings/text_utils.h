// Text, number and URL helpers shared by every part of the client: where user input is cleaned
// and where the base URL gets its one form. The encoding conversion comes with it from the platform.
#pragma once

#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace ostrevane {

// Base URL of the control service when nothing else is configured; chosen when the client is
// built (OSTREVANE_DEFAULT_SERVER_URL), already in NormalizeServerUrl form.
inline constexpr wchar_t kDefaultServerUrl[] = OSTREVANE_DEFAULT_SERVER_URL;

std::wstring TrimWhitespace(std::wstring text);

// Trimmed, backslashes turned into slashes, "http://" added when no scheme is written,
// trailing slashes removed; empty input gives the default base URL.
std::wstring NormalizeServerUrl(std::wstring url);

// Items separated by commas, semicolons and white space, trimmed, empty items dropped.
std::vector<std::wstring> SplitNetworkList(const std::wstring& text);

// RFC 3986 percent-encoding of the UTF-8 form; unreserved characters stay.
std::wstring PercentEncode(const std::wstring& text);

// Case-insensitive equality per character (towlower), like _wcsicmp == 0.
bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b);

// Every character through towlower; for case-insensitive searches inside a text.
std::wstring LowerCaseText(std::wstring text);

// Joins items with a separator ("\r\n" for the list fields of the settings).
std::wstring JoinLines(const std::vector<std::wstring>& items, const std::wstring& separator = L"\r\n");

}  // namespace ostrevane
