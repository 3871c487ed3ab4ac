// The folders that hold the client's run-time files: the per-user cache below the temporary
// directory and the shared one below ProgramData.
#pragma once

#include <string>

namespace ostrevane {

// Below the temporary directory (the per-user cache) or ProgramData (the shared directory).
inline constexpr wchar_t kRuntimeFolder[] = L"Ostrevane\\Runtime";

// base joined with kRuntimeFolder; the relative folder for an empty base.
std::wstring RuntimeDirectoryUnder(const std::wstring& base);

// <temporary directory>\Ostrevane\Runtime (Local AppData when there is no temporary directory).
std::wstring RuntimeCacheDirectory();

// <ProgramData>\Ostrevane\Runtime (the executable's directory when there is no ProgramData).
std::wstring SharedRuntimeDirectory();

}  // namespace ostrevane
