// Tests that write real files of the prefix (the settings file, configuration files in the
// user profiles) keep what was there and put it back when they end.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "app/file_io.h"

namespace ostrevane::test_support {

// Remembers a file's bytes (or its absence) and restores them on destruction.
class FileSnapshot {
public:
    explicit FileSnapshot(std::wstring path) : path_(std::move(path)), bytes_(ReadFileBytes(path_)) {}
    FileSnapshot(const FileSnapshot&) = delete;
    FileSnapshot& operator=(const FileSnapshot&) = delete;
    ~FileSnapshot() {
        if (bytes_) {
            WriteFileReplacing(path_, *bytes_);
        } else {
            DeleteFileW(path_.c_str());
        }
    }

    const std::wstring& path() const noexcept { return path_; }
    const std::optional<std::string>& original() const noexcept { return bytes_; }

private:
    std::wstring path_;
    std::optional<std::string> bytes_;
};

}  // namespace ostrevane::test_support
