// The decision behind every file the elevated client adopts or starts from a folder: may anybody
// but SYSTEM and the Administrators change it? Pure over a security descriptor.
#pragma once

#include <windows.h>

namespace ostrevane {

// Owner, access list and inheritance of the folders the client creates for itself: SYSTEM and
// Administrators have full control, users may read and run what is inside.
inline constexpr wchar_t kAdministratorsOnlySddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// True when the owner is SYSTEM, Administrators or TrustedInstaller and no entry of the access
// list allows anyone else a right that writes, creates, deletes or changes permissions (entries
// that only pass on to new files count too; CREATOR OWNER entries do not, as only those who may
// create files inherit them). A missing access list grants everything: false. Access lists with
// entry kinds other than plain allow and deny are not judged: false.
// `alsoTrusted` (none normally) counts as one of the administrators.
bool IsWritableOnlyByAdministrators(PSECURITY_DESCRIPTOR descriptor, PSID alsoTrusted = nullptr);

}  // namespace ostrevane
