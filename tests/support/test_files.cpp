#include "support/test_files.h"

#include <atomic>

#include "platform/unique_handle.h"

namespace ostrevane::testing {

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void RemoveDirectoryTree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    if (find) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = directory + L"\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveDirectoryTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find.get(), &entry));
    }
    find.reset();
    RemoveDirectoryW(directory.c_str());
}

TempDirectory::TempDirectory() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring parent = std::wstring(temp) + L"ostrevane-tests";
    CreateDirectoryW(parent.c_str(), nullptr);
    path_ = parent + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) +
            L"-" + std::to_wstring(counter++);
    RemoveDirectoryTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempDirectory::~TempDirectory() { RemoveDirectoryTree(path_); }

std::optional<DWORD> RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                const std::wstring& workingDirectory, DWORD timeoutMs) {
    std::wstring commandLine = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) {
        commandLine += L" \"" + argument + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &info)) {
        return std::nullopt;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        return std::nullopt;
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) {
        return std::nullopt;
    }
    return exitCode;
}

namespace {

std::wstring UnixPath(const std::wstring& path) {
    using Convert = char* (*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = convert != nullptr ? convert(path.c_str()) : nullptr;
    if (unix == nullptr) {
        return {};
    }
    std::wstring result;
    for (const char* c = unix; *c != '\0'; ++c) {
        result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

}  // namespace

bool MakeUnixLink(const std::wstring& link, const std::wstring& target) {
    const std::wstring unixLink = UnixPath(link);
    const std::wstring unixTarget = UnixPath(target);
    if (unixLink.empty() || unixTarget.empty()) {
        return false;
    }
    // Wine neither waits for a Linux program nor passes on its exit code: wait for the link.
    RunProgram(L"Z:\\bin\\ln", {L"-s", unixTarget, unixLink}, L"", 10000);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const DWORD attributes = GetFileAttributesW(link.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

}  // namespace ostrevane::testing
