#include "platform/administrators_only.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace ostrevane {
namespace {

bool Judge(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        << "SDDL error " << GetLastError();
    const bool verdict = IsWritableOnlyByAdministrators(descriptor);
    LocalFree(descriptor);
    return verdict;
}

const std::wstring kAdministratorsOnly = kAdministratorsOnlySddl;

TEST(IsWritableOnlyByAdministrators, AcceptsTheClientsOwnFolderAndSystemOwnedOnes) {
    EXPECT_TRUE(Judge(kAdministratorsOnly));
    EXPECT_TRUE(Judge(L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;WD)"));
    EXPECT_TRUE(Judge(L"O:BAD:(D;;FA;;;WD)(A;;FA;;;BA)")) << "a deny entry takes nothing away from the verdict";
}

TEST(IsWritableOnlyByAdministrators, AcceptsAFolderUnderProgramFilesAsAnInstallerLeavesIt) {
    // SYSTEM, Administrators, TrustedInstaller, CREATOR OWNER for new files, users and app
    // packages reading.
    EXPECT_TRUE(Judge(L"O:BAD:AI(A;ID;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
                      L"(A;CIIOID;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
                      L"(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)"
                      L"(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)(A;ID;0x1200a9;;;AC)(A;OICIIOID;GXGR;;;AC)"));
    EXPECT_TRUE(Judge(L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)"));
}

TEST(IsWritableOnlyByAdministrators, RefusesAnOwnerOutsideSystemAndAdministrators) {
    EXPECT_FALSE(Judge(L"O:BUD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
    EXPECT_FALSE(Judge(L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
}

TEST(IsWritableOnlyByAdministrators, RefusesAMissingOrNullAccessList) {
    EXPECT_FALSE(Judge(L"O:BA"));
    // Built by hand: Wine's SDDL parser turns "D:NO_ACCESS_CONTROL" into an empty list.
    SECURITY_DESCRIPTOR descriptor{};
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(administrators);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&descriptor, administrators, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    EXPECT_FALSE(IsWritableOnlyByAdministrators(&descriptor)) << "a null access list grants everyone everything";
}

TEST(IsWritableOnlyByAdministrators, RefusesAnyChangingRightForOthers) {
    // Each right alone lets a standard user plant, replace or re-permission a file.
    for (const wchar_t* right : {L"FA", L"FW", L"GA", L"GW", L"0x2", L"0x4", L"0x10", L"0x40", L"0x100", L"SD", L"WD",
                                 L"WO"}) {
        EXPECT_FALSE(Judge(kAdministratorsOnly + L"(A;;" + right + L";;;BU)")) << right;
    }
    EXPECT_FALSE(Judge(kAdministratorsOnly + L"(A;OICIIO;FA;;;AU)")) << "an entry for new files only counts too";
    EXPECT_FALSE(Judge(kAdministratorsOnly + L"(A;CI;0x100006;;;S-1-5-21-1-2-3-1001)"));
}

TEST(IsWritableOnlyByAdministrators, RefusesTheProgramDataDefaultThatLetsUsersCreateFolders) {
    EXPECT_FALSE(Judge(L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
                       L"(A;CI;LCSWDCRP;;;BU)"));
}

TEST(IsWritableOnlyByAdministrators, RefusesNoDescriptorAtAll) {
    EXPECT_FALSE(IsWritableOnlyByAdministrators(nullptr));
}

}  // namespace
}  // namespace ostrevane
