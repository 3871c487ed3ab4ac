#include "support/divert_files_choice.h"

#include <windows.h>

#include "support/genuine_divert.h"
#include "support/test_files.h"
#include "tunnel/divert_files.h"

namespace ostrevane::testing {

void UseDivertLibraryIn(const std::wstring& directory) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    // One folder per process: programs running side by side must not rewrite each other's files.
    DivertFiles files;
    files.directory = std::wstring(temp) + L"ostrevane-divert-" + std::to_wstring(GetCurrentProcessId());
    files.library = ReadFileBytes(directory + L"\\" + kDivertLibraryFileName).value_or("");
    files.driver = ReadFileBytes(GenuineDivertDirectory() + L"\\" + kDivertDriverFileName).value_or("");
    UseDivertFilesForTesting(files);
}

void UseEmbeddedDivertFiles() { UseDivertFilesForTesting(std::nullopt); }

}  // namespace ostrevane::testing
