#include "platform/administrators_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "platform/administrators_only.h"
#include "platform/text_encoding.h"
#include "support/test_files.h"

namespace ostrevane {
namespace {

// The folder's owner and access list as SDDL text, read back from the file system.
std::wstring SecurityText(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return L"<unreadable>";
    }
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr);
    std::wstring result = text != nullptr ? text : L"<none>";
    LocalFree(text);
    LocalFree(descriptor);
    return result;
}

bool SetSecurityText(const std::wstring& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    const bool set = SetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return set;
}

// Wine keeps no security descriptors: every file reads as owned by the user, SYSTEM and the user
// with full control, whatever was set.
bool SecurityIsKept(const std::wstring& folder) {
    return SetSecurityText(folder, kAdministratorsOnlySddl) && SecurityText(folder).rfind(L"O:BAD:", 0) == 0;
}

TEST(PrepareAdministratorsFolder, CreatesBothLevelsWithTheAdministratorsOnlyAccessList) {
    testing::TempDirectory temp;
    if (!SecurityIsKept(temp.path())) {
        GTEST_SKIP() << "this file system keeps no security descriptors (Wine)";
    }
    const std::wstring runtime = temp / L"Ostrevane\\Runtime";
    EXPECT_EQ(PrepareAdministratorsFolder(runtime, 2), FolderTrust::trusted);
    for (const std::wstring& folder : {temp / L"Ostrevane", runtime}) {
        const std::wstring text = SecurityText(folder);
        EXPECT_EQ(text, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)") << WideToUtf8(text);
    }
    EXPECT_EQ(PrepareAdministratorsFolder(runtime, 2), FolderTrust::trusted) << "a second start finds it sound";
}

TEST(PrepareAdministratorsFolder, RepairsAFolderThatUsersCouldWriteAndRemovesWhatWasPlanted) {
    testing::TempDirectory temp;
    if (!SecurityIsKept(temp.path())) {
        GTEST_SKIP() << "this file system keeps no security descriptors (Wine)";
    }
    const std::wstring runtime = temp / L"Ostrevane\\Runtime";
    ASSERT_EQ(PrepareAdministratorsFolder(runtime, 2), FolderTrust::trusted);
    ASSERT_TRUE(testing::WriteFileBytes(runtime + L"\\rustdesk.exe", std::string(2 << 20, 'R')));
    ASSERT_TRUE(CreateDirectoryW((runtime + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(testing::WriteFileBytes(runtime + L"\\sub\\x.dll", "x"));
    ASSERT_TRUE(SetSecurityText(temp / L"Ostrevane", L"O:BUD:(A;OICI;FA;;;BU)"));

    EXPECT_EQ(PrepareAdministratorsFolder(runtime, 2), FolderTrust::repaired);
    EXPECT_TRUE(IsAdministratorsOnly(temp / L"Ostrevane")) << WideToUtf8(SecurityText(temp / L"Ostrevane"));
    EXPECT_EQ(GetFileAttributesW((runtime + L"\\rustdesk.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((runtime + L"\\sub").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Under Wine every folder reads as the user's: without the test account trusted, none can be made
// administrators-only, and the folder is refused with what is inside left unused.
TEST(PrepareAdministratorsFolder, RefusesAFolderThatStaysWritableForOthers) {
    testing::TempDirectory temp;
    if (SecurityIsKept(temp.path())) {
        GTEST_SKIP() << "only where security descriptors cannot be kept";
    }
    EXPECT_EQ(PrepareAdministratorsFolder(temp / L"Ostrevane\\Runtime", 2), FolderTrust::refused);
}

TEST(PrepareAdministratorsFolder, TrustsWhatTheTestAccountCreatesWhenThatAccountCounts) {
    testing::TempDirectory temp;
    TrustCurrentAccountForTesting(true);
    EXPECT_EQ(PrepareAdministratorsFolder(temp / L"Ostrevane\\Runtime", 2), FolderTrust::trusted);
    EXPECT_TRUE(IsAdministratorsOnly(temp / L"Ostrevane"));
    TrustCurrentAccountForTesting(false);
}

TEST(IsAdministratorsOnly, RefusesAMissingPath) {
    testing::TempDirectory temp;
    EXPECT_FALSE(IsAdministratorsOnly(temp / L"missing"));
}

}  // namespace
}  // namespace ostrevane
