// Path text arithmetic without any file-system access: joining a base and a name, and taking the
// directory part of a path. Kept free of Win32 so pure code can build paths.
#pragma once

#include <string>

namespace ostrevane {

// The name alone for an empty base; no separator added after a base ending in "\" or "/";
// otherwise exactly one backslash between them.
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);

// Everything before the last backslash or slash; empty when there is none.
std::wstring DirectoryPart(const std::wstring& path);

}  // namespace ostrevane
