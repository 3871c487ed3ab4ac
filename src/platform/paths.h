// Small path helpers: joining, known folders, the executable's directory, file sizes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/path_text.h"

namespace ostrevane {

// Creates a directory with all missing parents; an empty path or an existing directory is no error.
void CreateDirectoryTree(const std::wstring& directory);

// Known folder (FOLDERID_...) path, empty on failure.
std::wstring KnownFolderPath(const GUID& folderId);

// Directory of the running executable, without a trailing separator; empty on failure.
std::wstring ModuleDirectory();

// Size reported by the file's attributes (directories included); nothing when they cannot be read.
std::optional<std::uint64_t> AttributeSize(const std::wstring& path);

// Size of a regular file; 0 for an empty path, a missing file or a directory.
std::uint64_t RegularFileSize(const std::wstring& path);

}  // namespace ostrevane
