#include "tunnel/divert_api.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/genuine_divert.h"

namespace ostrevane {
namespace {

// Points the DLL search directory at a folder for the duration of a test.
class DllDirectoryScope {
public:
    explicit DllDirectoryScope(const std::wstring& directory) { SetDllDirectoryW(directory.c_str()); }
    ~DllDirectoryScope() { SetDllDirectoryW(nullptr); }
};

std::string LoadError() {
    try {
        LoadDivertApi();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

TEST(LoadDivertApi, ResolvesTheFiveExportsOfTheGenuineLibraryAndUnloadsIt) {
    DllDirectoryScope scope(testing::GenuineDivertDirectory());
    {
        std::unique_ptr<DivertApi> api = LoadDivertApi();
        ASSERT_TRUE(api->module);
        EXPECT_NE(api->open, nullptr);
        EXPECT_NE(api->recv, nullptr);
        EXPECT_NE(api->send, nullptr);
        EXPECT_NE(api->calcChecksums, nullptr);
        EXPECT_NE(api->close, nullptr);
        EXPECT_NE(GetModuleHandleW(L"WinDivert.dll"), nullptr);
    }
    EXPECT_EQ(GetModuleHandleW(L"WinDivert.dll"), nullptr) << "releasing the table must unload the library";
}

TEST(LoadDivertApi, ReportsALibraryWithoutAllExports) {
    DllDirectoryScope scope(std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\partial_divert");
    EXPECT_EQ(LoadError(), "WinDivert.dll is missing required exports.");
    EXPECT_EQ(GetModuleHandleW(L"WinDivert.dll"), nullptr);
}

TEST(LoadDivertApi, ReportsAMissingLibrary) {
    DllDirectoryScope scope(std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\empty");
    EXPECT_EQ(LoadError(), "WinDivert.dll was not found in the runtime cache.");
}

}  // namespace
}  // namespace ostrevane
