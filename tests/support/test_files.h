// File helpers for tests that work on real files under Wine: whole-file reads and writes, fresh
// temporary directories that remove themselves, and running a helper program to its end.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace ostrevane::testing {

std::optional<std::string> ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Deletes a directory with everything below it; a missing directory is no error.
void RemoveDirectoryTree(const std::wstring& directory);

// A new, empty directory under the temporary directory, removed with its contents at the end.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::wstring& path() const { return path_; }
    // path joined with a relative name
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Runs a program with the given arguments (each quoted) in a working directory (empty: this
// process's) and waits at most timeoutMs for it; its exit code, or nothing when it could not start
// or had to be killed. Under Wine the working directory it starts in stays in use after the program
// ends and cannot be removed: keep it outside a TempDirectory.
std::optional<DWORD> RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                const std::wstring& workingDirectory, DWORD timeoutMs = 30000);

// Makes `link` a symbolic link to the folder `target` with the Linux tool, which Wine reports as
// a reparse point (Wine's CreateSymbolicLinkW creates nothing). False where that cannot be done
// (not under Wine).
bool MakeUnixLink(const std::wstring& link, const std::wstring& target);

}  // namespace ostrevane::testing
