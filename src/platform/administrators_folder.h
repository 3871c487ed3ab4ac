// Folders that the elevated client adopts or starts files from, made and kept so that only
// SYSTEM and Administrators can write or create anything in them.
#pragma once

#include <string>

namespace ostrevane {

enum class FolderTrust {
    trusted,   // created now, or found with a sound owner and access list
    repaired,  // found untrusted: ownership taken, access list reset, its contents removed
    refused,   // untrusted and could not be repaired: nothing in it may be used
};

// Makes the last `levels` folders of the path (for "...\Ostrevane\Runtime" and 2: both) with
// kAdministratorsOnlySddl, or checks and repairs the existing ones. A junction or link in their
// place is removed and a real folder made.
FolderTrust PrepareAdministratorsFolder(const std::wstring& path, int levels);

// Whether a folder or file may be changed only by SYSTEM and Administrators (a reparse point never).
bool IsAdministratorsOnly(const std::wstring& path);

// Wine keeps no security descriptors: every file reads as owned by, and writable by, the account
// the tests run as (an administrator there). Test programs that need folders trusted under Wine
// count that account as an administrator with this.
void TrustCurrentAccountForTesting(bool trusted);

}  // namespace ostrevane
