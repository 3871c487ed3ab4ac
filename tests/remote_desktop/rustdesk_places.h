// The places of the Wine prefix where RustDesk is looked for, for tests that put files there.
// Every place is emptied for the test and put back as it was afterwards.
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/administrators_folder.h"
#include "platform/file_io.h"
#include "platform/path_text.h"
#include "platform/paths.h"
#include "support/file_snapshot.h"

namespace ostrevane::testing {

inline std::wstring OwnDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return DirectoryPart(path);
}

// Written out as the prefix has them, not derived from the code under test.
struct RustDeskPlaces {
    std::wstring programFiles = L"C:\\Program Files\\RustDesk\\rustdesk.exe";
    std::wstring programFilesX86 = L"C:\\Program Files (x86)\\RustDesk\\rustdesk.exe";
    std::wstring localPrograms = L"C:\\users\\root\\AppData\\Local\\Programs\\RustDesk\\rustdesk.exe";
    std::wstring besideExecutable = OwnDirectory() + L"\\Runtime\\rustdesk.exe";
    std::wstring shared = L"C:\\ProgramData\\Ostrevane\\Runtime\\rustdesk.exe";
    std::wstring sharedPartial = L"C:\\ProgramData\\Ostrevane\\Runtime\\rustdesk.exe.download";

    std::vector<std::wstring> All() const {
        return {programFiles, programFilesX86, localPrograms, besideExecutable, shared, sharedPartial};
    }
};

// Takes every place away for the test and restores it afterwards. Wine keeps no security
// descriptors (every file reads as the test account's), so the test account counts as an
// administrator meanwhile: the places are trusted as an administrator's installation would be.
class EmptiedRustDeskPlaces {
public:
    EmptiedRustDeskPlaces() : snapshots_(SnapshotFiles(places.All())) {
        for (const std::wstring& path : places.All()) {
            DeleteFileW(path.c_str());
        }
        TrustCurrentAccountForTesting(true);
    }
    ~EmptiedRustDeskPlaces() { TrustCurrentAccountForTesting(false); }
    EmptiedRustDeskPlaces(const EmptiedRustDeskPlaces&) = delete;
    EmptiedRustDeskPlaces& operator=(const EmptiedRustDeskPlaces&) = delete;

    const RustDeskPlaces places;

private:
    std::vector<std::unique_ptr<FileSnapshot>> snapshots_;
};

// A file of exactly `size` bytes, its folders created. Starts like an executable; the content
// does not matter where only existence and size are judged.
inline bool PlaceFile(const std::wstring& path, std::size_t size) {
    CreateDirectoryTree(DirectoryPart(path));
    std::string bytes(size, '\x5A');
    bytes.replace(0, std::min<std::size_t>(2, size), std::string("MZ").substr(0, std::min<std::size_t>(2, size)));
    return WriteFileReplacing(path, bytes);
}

// A copy of a real program padded with trailing bytes to `size` (a PE file still runs with data
// appended after its image).
inline bool PlacePaddedCopy(const std::wstring& program, const std::wstring& path, std::size_t size) {
    std::optional<std::string> bytes = ostrevane::ReadFileBytes(program);
    if (!bytes || bytes->size() > size) {
        return false;
    }
    bytes->resize(size, '\0');
    CreateDirectoryTree(DirectoryPart(path));
    return WriteFileReplacing(path, *bytes);
}

}  // namespace ostrevane::testing
