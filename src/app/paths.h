// Small path helpers: joining, known folders, the executable's directory, file sizes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ostrevane {

// The name alone for an empty base; no separator added after a base ending in "\" or "/";
// otherwise exactly one backslash between them.
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);

// Everything before the last backslash or slash; empty when there is none.
std::wstring DirectoryPart(const std::wstring& path);

// Creates a directory with all missing parents; an empty path or an existing directory is no error.
void CreateDirectoryTree(const std::wstring& directory);

// Known folder (FOLDERID_...) path, empty on failure.
std::wstring KnownFolderPath(const GUID& folderId);

// Directory of the running executable, without a trailing separator; empty on failure.
std::wstring ModuleDirectory();

// Size of a regular file; 0 for an empty path, a missing file or a directory.
std::uint64_t RegularFileSize(const std::wstring& path);

}  // namespace ostrevane
