// The per-user runtime cache of the packet-diversion driver files, written from the executable's
// resources at every start (the folder is RuntimeCacheDirectory). Every failure here is silent;
// the tunnel checks the files again, byte for byte, before it loads them.
#pragma once

#include <string>

namespace ostrevane {

// Makes the cache hold both embedded files.
void PrepareDriverRuntime();

// True when the file holds the RT_RCDATA resource of this executable, byte for byte (already, or
// after rewriting it); false for a missing or empty resource or a file that cannot be written.
bool ExtractResourceFile(int resourceId, const std::wstring& path);

}  // namespace ostrevane
