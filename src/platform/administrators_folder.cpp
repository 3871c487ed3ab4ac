#include "platform/administrators_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <vector>

#include "platform/administrators_only.h"
#include "platform/path_text.h"
#include "platform/unique_handle.h"

namespace ostrevane {
namespace {

struct LocalFreeTraits {
    using Pointer = PSECURITY_DESCRIPTOR;
    static Pointer Invalid() { return nullptr; }
    static void Close(Pointer value) { LocalFree(value); }
};
using UniqueSecurityDescriptor = UniqueHandle<LocalFreeTraits>;

UniqueSecurityDescriptor AdministratorsOnlyDescriptor() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnlySddl, SDDL_REVISION_1, &descriptor,
                                                         nullptr);
    return UniqueSecurityDescriptor(descriptor);
}

std::atomic<bool> trustCurrentAccount{false};

// The token's user, when a test program counts it as an administrator.
std::vector<BYTE> TrustedForTesting() {
    if (!trustCurrentAccount) {
        return {};
    }
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return {};
    }
    UniqueKernelHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
        return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    std::vector<BYTE> copy(GetLengthSid(sid));
    CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid);
    return copy;
}

enum class Found { missing, reparsePoint, trusted, untrusted };

Found Inspect(const std::wstring& path) {
    UniqueFileHandle handle(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    if (!handle) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Found::missing : Found::untrusted;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle.get(), &information)) {
        return Found::untrusted;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return Found::reparsePoint;
    }
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS) {
        return Found::untrusted;
    }
    UniqueSecurityDescriptor descriptor(raw);
    std::vector<BYTE> alsoTrusted = TrustedForTesting();
    return IsWritableOnlyByAdministrators(descriptor.get(), alsoTrusted.empty() ? nullptr : alsoTrusted.data())
               ? Found::trusted
               : Found::untrusted;
}

bool CreateAdministratorsFolder(const std::wstring& path) {
    UniqueSecurityDescriptor descriptor = AdministratorsOnlyDescriptor();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    return descriptor && CreateDirectoryW(path.c_str(), &attributes);
}

// Taking ownership of a folder someone else owns needs these, which an elevated token holds.
void EnablePrivilege(const wchar_t* name) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
        return;
    }
    UniqueKernelHandle token(raw);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
}

bool ResetSecurity(const std::wstring& path) {
    EnablePrivilege(SE_TAKE_OWNERSHIP_NAME);
    EnablePrivilege(SE_RESTORE_NAME);
    UniqueSecurityDescriptor descriptor = AdministratorsOnlyDescriptor();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted)) {
        return false;
    }
    std::vector<wchar_t> name(path.begin(), path.end());
    name.push_back(L'\0');
    // The owner first: once ours, the access list can be written whatever it said.
    return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                                 nullptr) == ERROR_SUCCESS &&
           SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 dacl, nullptr) == ERROR_SUCCESS;
}

// Removes everything below the folder; links are removed, never followed.
bool EmptyFolder(const std::wstring& folder, int depth) {
    if (depth > 16) {
        return false;
    }
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(FindFirstFileW(JoinPath(folder, L"*").c_str(), &entry));
    if (!find) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    bool emptied = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring path = JoinPath(folder, name);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        const DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            emptied = DeleteFileW(path.c_str()) && emptied;
        } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            emptied = RemoveDirectoryW(path.c_str()) && emptied;
        } else {
            emptied = EmptyFolder(path, depth + 1) && RemoveDirectoryW(path.c_str()) && emptied;
        }
    } while (FindNextFileW(find.get(), &entry));
    return emptied;
}

// The folder itself; true when it was made or found sound, repaired set when it needed work.
bool PrepareOne(const std::wstring& path, bool& repaired) {
    switch (Inspect(path)) {
    case Found::trusted:
        return true;
    case Found::missing:
        return CreateAdministratorsFolder(path) && Inspect(path) == Found::trusted;
    case Found::reparsePoint:
        repaired = true;
        return RemoveDirectoryW(path.c_str()) && CreateAdministratorsFolder(path) && Inspect(path) == Found::trusted;
    case Found::untrusted:
        repaired = true;
        return ResetSecurity(path) && Inspect(path) == Found::trusted;
    }
    return false;
}

}  // namespace

FolderTrust PrepareAdministratorsFolder(const std::wstring& path, int levels) {
    std::vector<std::wstring> chain{path};
    for (int level = 1; level < levels; ++level) {
        const std::wstring parent = DirectoryPart(chain.front());
        if (parent.empty() || parent == chain.front()) {
            break;
        }
        chain.insert(chain.begin(), parent);
    }
    bool repaired = false;
    for (const std::wstring& folder : chain) {
        if (!PrepareOne(folder, repaired)) {
            return FolderTrust::refused;
        }
    }
    if (!repaired) {
        return FolderTrust::trusted;
    }
    // Whoever could write any level may have put anything below: none of it is ours to keep.
    return EmptyFolder(path, 0) ? FolderTrust::repaired : FolderTrust::refused;
}

bool IsAdministratorsOnly(const std::wstring& path) { return Inspect(path) == Found::trusted; }

void TrustCurrentAccountForTesting(bool trusted) { trustCurrentAccount = trusted; }

}  // namespace ostrevane
