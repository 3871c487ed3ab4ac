#include "platform/administrators_only.h"

#include <sddl.h>

namespace ostrevane {
namespace {

constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                        FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL | MAXIMUM_ALLOWED | ACCESS_SYSTEM_SECURITY;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

// The installer service that owns the system's own files.
bool IsTrustedInstaller(PSID sid) {
    PSID installer = nullptr;
    if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer)) {
        return false;
    }
    const bool same = EqualSid(sid, installer) != FALSE;
    LocalFree(installer);
    return same;
}

bool IsAdministration(PSID sid, PSID alsoTrusted) {
    return sid != nullptr && IsValidSid(sid) &&
           (IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
            IsTrustedInstaller(sid) || (alsoTrusted != nullptr && EqualSid(sid, alsoTrusted)));
}

// CREATOR OWNER stands for whoever creates a file inside, and only those allowed to create
// anything can: Program Files and its subfolders carry such an entry.
bool IsCreatorOwner(PSID sid) { return sid != nullptr && IsValidSid(sid) && IsWellKnown(sid, WinCreatorOwnerSid); }

}  // namespace

bool IsWritableOnlyByAdministrators(PSECURITY_DESCRIPTOR descriptor, PSID alsoTrusted) {
    if (descriptor == nullptr || !IsValidSecurityDescriptor(descriptor)) {
        return false;
    }
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || !IsAdministration(owner, alsoTrusted)) {
        return false;
    }
    BOOL present = FALSE;
    BOOL daclDefaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) || !present || dacl == nullptr) {
        return false;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) {
            return false;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            continue;
        }
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            return false;
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (!IsAdministration(sid, alsoTrusted) && !IsCreatorOwner(sid) && (allowed->Mask & kChangingRights) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace ostrevane
