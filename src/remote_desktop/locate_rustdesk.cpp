#include "remote_desktop/locate_rustdesk.h"

#include <windows.h>
#include <knownfolders.h>

#include "control/http_transport.h"
#include "platform/administrators_folder.h"
#include "platform/paths.h"
#include "platform/runtime_directories.h"
#include "remote_desktop/rustdesk_locations.h"
#include "settings/settings_file.h"

namespace ostrevane {
namespace {

bool IsExistingFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Started with administrator rights: neither the program nor its folder may be changeable by
// standard users, or any program of theirs could replace it first.
bool IsTrustedProgram(const std::wstring& path) {
    return IsExistingFile(path) && IsAdministratorsOnly(path) && IsAdministratorsOnly(DirectoryPart(path));
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring FirstExistingCandidate() {
    const RustDeskSearchFolders folders{KnownFolderPath(FOLDERID_ProgramFiles), KnownFolderPath(FOLDERID_ProgramFilesX86),
                                        KnownFolderPath(FOLDERID_LocalAppData), ModuleDirectory()};
    for (const std::wstring& candidate : RustDeskCandidates(folders)) {
        if (!candidate.empty() && IsTrustedProgram(candidate)) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

bool IsInSharedRuntimeDirectory(const std::wstring& path) {
    return PathContainsDirectory(path, SharedRuntimeDirectory());
}

std::wstring LocateRustDesk(ClientState& state, const JsonValue* server, std::wstring* problem) {
    if (!state.rustDeskPath.empty() && !IsInSharedRuntimeDirectory(state.rustDeskPath) &&
        IsTrustedProgram(state.rustDeskPath)) {
        return state.rustDeskPath;
    }
    std::wstring installed = FirstExistingCandidate();
    if (!installed.empty()) {
        return installed;
    }
    return FetchRustDesk(state, server, problem);
}

std::wstring FetchRustDesk(ClientState& state, const JsonValue* server, std::wstring* problem) {
    const std::wstring directory = SharedRuntimeDirectory();
    const std::wstring target = JoinPath(directory, L"rustdesk.exe");
    // "Ostrevane" and "Runtime": whoever controls the parent can swap the folder itself.
    if (PrepareAdministratorsFolder(directory, 2) == FolderTrust::refused) {
        if (problem != nullptr) {
            *problem = kUntrustedSharedDirectoryText + directory;
        }
        return {};
    }
    DeleteFileW((target + L".download").c_str());
    // Here the remembered path is empty, missing or an earlier download: reuse it only when whole,
    // and only our own download (the settings file is the user's to edit).
    if (SamePath(state.rustDeskPath, target) && RegularFileSize(target) > kMinimumDownloadedRustDeskSize) {
        return state.rustDeskPath;
    }
    if (server == nullptr) {
        return {};
    }
    const std::wstring* address = JsonFindAs<std::wstring>(*server, L"windowsDownloadUrl");
    const std::wstring url = address == nullptr ? std::wstring() : ResolveDownloadUrl(state.serverUrl, *address);
    if (url.empty()) {
        return {};
    }
    DownloadToFile(url, target);
    // A failed transfer may leave an older download in place (the folder is administrators-only,
    // so it is ours); it counts when it is big enough.
    if (RegularFileSize(target) > kMinimumDownloadedRustDeskSize) {
        state.rustDeskPath = target;
        SaveClientState(state);
        return target;
    }
    return {};
}

}  // namespace ostrevane
