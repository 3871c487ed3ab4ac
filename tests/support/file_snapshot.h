// Tests that write real files of the prefix (the settings file, configuration files in the
// user profiles) keep what was there and put it back when they end.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/path_text.h"
#include "support/test_files.h"

namespace ostrevane::testing {

inline bool DirectoryExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Remembers a file's bytes (or its absence) and the outermost of its folders that did not
// exist yet; on destruction puts the bytes back (or deletes the file) and removes that folder
// with everything a test put into it.
class FileSnapshot {
public:
    explicit FileSnapshot(std::wstring path) : path_(std::move(path)), bytes_(ReadFileBytes(path_)) {
        for (std::wstring folder = DirectoryPart(path_); !folder.empty() && !DirectoryExists(folder);
             folder = DirectoryPart(folder)) {
            missingFolder_ = folder;
        }
    }
    FileSnapshot(const FileSnapshot&) = delete;
    FileSnapshot& operator=(const FileSnapshot&) = delete;
    ~FileSnapshot() {
        if (bytes_) {
            WriteFileReplacing(path_, *bytes_);
        } else {
            DeleteFileW(path_.c_str());
        }
        if (!missingFolder_.empty()) {
            RemoveDirectoryTree(missingFolder_);
        }
    }

    const std::wstring& path() const noexcept { return path_; }
    const std::optional<std::string>& original() const noexcept { return bytes_; }
    // The outermost folder of the path that was missing; empty when all existed.
    const std::wstring& missingFolder() const noexcept { return missingFolder_; }

private:
    std::wstring path_;
    std::optional<std::string> bytes_;
    std::wstring missingFolder_;
};

// One snapshot per path, all put back when the list is destroyed.
inline std::vector<std::unique_ptr<FileSnapshot>> SnapshotFiles(const std::vector<std::wstring>& paths) {
    std::vector<std::unique_ptr<FileSnapshot>> snapshots;
    for (const std::wstring& path : paths) {
        snapshots.push_back(std::make_unique<FileSnapshot>(path));
    }
    return snapshots;
}

}  // namespace ostrevane::testing
