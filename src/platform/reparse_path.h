// Writing below folders that other users own: a junction or symbolic link on the way would send
// the elevated client's file wherever its owner chose. The decision is pure over attributes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/unique_handle.h"

namespace ostrevane {

// The folders a file path goes through below its drive root, outermost first:
// "C:\Users\a\x.toml" gives "C:\Users" and "C:\Users\a". Pure.
std::vector<std::wstring> FoldersOnTheWay(const std::wstring& filePath);

// True when a folder's attributes (INVALID_FILE_ATTRIBUTES for a missing one) mark a reparse
// point. Pure.
bool PassesThroughReparsePoint(const std::vector<std::wstring>& folders,
                               const std::function<unsigned long(const std::wstring&)>& attributesOf);

// Creates the missing folders of the file path and holds every folder on the way so that none
// can be renamed, removed or turned into a link while the handles live; empty when a folder is
// a reparse point or cannot be made or held.
std::vector<UniqueFileHandle> HoldFoldersWithoutLinks(const std::wstring& filePath);

}  // namespace ostrevane
