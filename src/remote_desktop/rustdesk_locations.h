// Where RustDesk is looked for, and where a download comes from: the fixed list of install
// places, the shared-runtime test and the download address. No Win32 here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrevane {

// A downloaded RustDesk counts only when it is larger than this: anything smaller is an error
// page or a broken transfer.
inline constexpr std::uint64_t kMinimumDownloadedRustDeskSize = 1048576;

struct RustDeskSearchFolders {
    std::wstring programFiles;     // empty when the known folder is unavailable
    std::wstring programFilesX86;
    std::wstring localAppData;
    std::wstring moduleDirectory;  // the executable's own directory
};

// The nine install places in search order: D:\Program Files, Program Files, Program Files (x86)
// and the per-user Programs folder, each as "rustdesk.exe" then "RustDesk.exe", then
// "Runtime\rustdesk.exe" beside the executable. An empty folder leaves the relative tail.
std::vector<std::wstring> RustDeskCandidates(const RustDeskSearchFolders& folders);

// Whether the directory text occurs anywhere in the path, letter case ignored; true for an
// empty directory.
bool PathContainsDirectory(const std::wstring& path, const std::wstring& directory);

// The trimmed address as it stands when it names a scheme ("://"), else the normalised base
// URL followed by the address with a leading "/"; empty for an empty address.
std::wstring ResolveDownloadUrl(const std::wstring& baseUrl, const std::wstring& address);

}  // namespace ostrevane
