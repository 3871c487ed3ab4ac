// The two packet-diversion driver files the tunnel loads, the folder they are placed in and the
// bytes they must hold: normally the runtime cache and the executable's resources 201 and 202.
#pragma once

#include <optional>
#include <string>

namespace ostrevane {

inline constexpr int kDivertLibraryResourceId = 201;
inline constexpr int kDivertDriverResourceId = 202;
inline constexpr wchar_t kDivertLibraryFileName[] = L"WinDivert.dll";
inline constexpr wchar_t kDivertDriverFileName[] = L"WinDivert64.sys";

struct DivertFiles {
    std::wstring directory;
    std::string library;  // what WinDivert.dll must hold; empty when there is none
    std::string driver;   // what WinDivert64.sys must hold
};

// The runtime cache and the executable's own resources.
DivertFiles EmbeddedDivertFiles();

// What the tunnel loads: EmbeddedDivertFiles, unless a test program chose other files.
DivertFiles CurrentDivertFiles();

// Test programs carry no driver resources: they name the files here.
void UseDivertFilesForTesting(std::optional<DivertFiles> files);

}  // namespace ostrevane
