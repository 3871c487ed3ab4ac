// Files that an unelevated program placed beside the executable, in the current folder or in the
// runtime cache are never loaded or started by the client: a probe program started the way the
// client starts loads the driver library and stops the tunnel.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/path_text.h"
#include "platform/paths.h"
#include "platform/runtime_directories.h"
#include "platform/text_encoding.h"
#include "support/genuine_divert.h"
#include "support/test_files.h"
#include "tunnel/divert_files.h"

namespace ostrevane {
namespace {

std::wstring Fixture(const std::wstring& name) { return std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\" + name; }

std::wstring TempPath(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

// The probe in a folder of its own with the planted file beside it and in the folder it starts
// in (that one stays: Wine keeps a process's starting folder in use).
class PlantedFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileW(Record().c_str());
        CreateDirectoryTree(startFolder_);
        ASSERT_TRUE(CopyFileW(Fixture(L"app\\app_probe.exe").c_str(), (temp_ / L"app_probe.exe").c_str(), FALSE));
    }
    void TearDown() override { DeleteFileW(Record().c_str()); }

    void Plant(const std::wstring& fixture, const std::wstring& name) {
        for (const std::wstring& folder : {temp_.path(), startFolder_}) {
            ASSERT_TRUE(CopyFileW(Fixture(fixture).c_str(), JoinPath(folder, name).c_str(), FALSE));
        }
    }
    std::optional<DWORD> Probe(const std::vector<std::wstring>& arguments) {
        return testing::RunProgram(temp_ / L"app_probe.exe", arguments, startFolder_);
    }
    static std::wstring Record() { return TempPath(L"ostrevane-planted.log"); }

    testing::TempDirectory temp_;
    const std::wstring startFolder_ = TempPath(L"ostrevane-planted-start");
};

TEST_F(PlantedFilesTest, APlantedWinDivertDllIsNeverLoadedAndACachedImpostorIsRewritten) {
    Plant(L"planted\\WinDivert.dll", kDivertLibraryFileName);
    const std::wstring cached = JoinPath(RuntimeCacheDirectory(), kDivertLibraryFileName);
    const std::string genuine =
        testing::ReadFileBytes(testing::GenuineDivertDirectory() + L"\\WinDivert.dll").value_or("");
    std::string impostor = genuine;
    impostor[100] ^= 0x01;
    CreateDirectoryTree(RuntimeCacheDirectory());
    ASSERT_TRUE(testing::WriteFileBytes(cached, impostor));

    const std::wstring result = temp_ / L"result.txt";
    ASSERT_EQ(Probe({L"divert", result}), std::optional<DWORD>(0)) << testing::ReadFileBytes(result).value_or("");
    const std::string loaded = testing::ReadFileBytes(result).value_or("");
    EXPECT_EQ(_stricmp(loaded.c_str(), WideToUtf8(cached).c_str()), 0) << loaded;
    EXPECT_TRUE(testing::ReadFileBytes(cached) == genuine) << "the impostor was rewritten before the load";
    EXPECT_EQ(GetFileAttributesW(Record().c_str()), INVALID_FILE_ATTRIBUTES)
        << "a planted library ran: " << testing::ReadFileBytes(Record()).value_or("");
}

TEST_F(PlantedFilesTest, APlantedScExeNeverRunsWhenTheTunnelStops) {
    Plant(L"planted\\planted_tool.exe", L"sc.exe");
    ASSERT_EQ(Probe({L"stop"}), std::optional<DWORD>(0));
    EXPECT_EQ(GetFileAttributesW(Record().c_str()), INVALID_FILE_ATTRIBUTES)
        << "a planted sc.exe ran: " << testing::ReadFileBytes(Record()).value_or("");
}

}  // namespace
}  // namespace ostrevane
