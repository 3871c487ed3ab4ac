// Where the packet-diversion driver files live: their resource ids and file names, and the
// development source-tree layout recognised from the executable's path.
// Pure path arithmetic; the file work is in runtime_cache.
#pragma once

#include <string>
#include <vector>

namespace ostrevane {

inline constexpr int kDivertLibraryResourceId = 201;
inline constexpr int kDivertDriverResourceId = 202;
inline constexpr wchar_t kDivertLibraryFileName[] = L"WinDivert.dll";
inline constexpr wchar_t kDivertDriverFileName[] = L"WinDivert64.sys";

// An executable whose path contains this (exact letter case) runs from a development tree.
inline constexpr wchar_t kSourceTreeMarker[] = L"\\src\\OstrevaneNative\\";

// The part of the executable path before the first marker; empty when there is no marker or it
// stands at the very start.
std::wstring SourceTreeRoot(const std::wstring& executablePath);

struct FileCopy {
    std::wstring source;
    std::wstring destination;
};

// The tree's driver files and their places in the cache, library first; none outside a tree.
std::vector<FileCopy> SourceTreeDriverCopies(const std::wstring& executablePath, const std::wstring& cacheDirectory);

}  // namespace ostrevane
