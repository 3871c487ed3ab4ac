// The per-user runtime cache of the packet-diversion driver files: written from the executable's
// resources at every start (or from a development tree's fresher files) and made the DLL search
// directory (the folder is RuntimeCacheDirectory). Every failure here is silent; the tunnel reports
// the consequence when it opens the driver.
#pragma once

#include <string>

namespace ostrevane {

// Fills the cache, makes it the DLL search directory, then applies a development tree's files.
void PrepareDriverRuntime();

// True when the file holds the RT_RCDATA resource of this executable: a file of the resource's
// size counts as current and is left alone, anything else is rewritten.
bool ExtractResourceFile(int resourceId, const std::wstring& path);

// True when the destination has the source's size already or the copy succeeded.
bool CopyFileIfDifferent(const std::wstring& source, const std::wstring& destination);

}  // namespace ostrevane
