#include "platform/file_io.h"

#include <windows.h>

#include "platform/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrevane {
namespace {

// A fresh folder under the temporary directory, removed with its files afterwards.
class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        folder_ = JoinPath(temp, L"ostrevane-file-io-" + std::to_wstring(GetCurrentProcessId()));
        CreateDirectoryTree(folder_);
        path_ = JoinPath(folder_, L"data.bin");
    }

    void TearDown() override {
        WIN32_FIND_DATAW data{};
        const HANDLE find = FindFirstFileW(JoinPath(folder_, L"*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW(JoinPath(folder_, data.cFileName).c_str());
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(folder_.c_str());
    }

    int FileCount() const {
        int count = 0;
        WIN32_FIND_DATAW data{};
        const HANDLE find = FindFirstFileW(JoinPath(folder_, L"*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) {
            return 0;
        }
        do {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                ++count;
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return count;
    }

    std::wstring folder_;
    std::wstring path_;
};

TEST_F(FileIoTest, MissingFileReadsAsNothing) {
    EXPECT_FALSE(ReadFileBytes(path_).has_value());
    EXPECT_FALSE(ReadFileBytes(folder_ + L"\\no\\such\\file").has_value());
}

TEST_F(FileIoTest, WrittenBytesReadBackExactly) {
    std::string bytes;
    for (int i = 0; i < 300000; ++i) {
        bytes.push_back(static_cast<char>(i * 7));
    }
    ASSERT_TRUE(WriteFileReplacing(path_, bytes));
    EXPECT_EQ(ReadFileBytes(path_), bytes);
    ASSERT_TRUE(WriteFileReplacing(path_, ""));
    EXPECT_EQ(ReadFileBytes(path_), std::string());
    EXPECT_EQ(FileCount(), 1);
}

TEST_F(FileIoTest, ReplacingLeavesOnlyTheNewContent) {
    ASSERT_TRUE(WriteFileReplacing(path_, std::string(100000, 'o')));
    ASSERT_TRUE(WriteFileReplacing(path_, "new"));
    EXPECT_EQ(ReadFileBytes(path_), "new");
    EXPECT_EQ(FileCount(), 1);
}

TEST_F(FileIoTest, MissingFolderFailsWithoutCreatingAnything) {
    EXPECT_FALSE(WriteFileReplacing(JoinPath(folder_, L"absent\\data.bin"), "x"));
    EXPECT_EQ(FileCount(), 0);
}

TEST_F(FileIoTest, AFileThatCannotBeReplacedKeepsItsContent) {
    ASSERT_TRUE(WriteFileReplacing(path_, "old"));
    const HANDLE holder = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFileReplacing(path_, "new"));
    CloseHandle(holder);
    EXPECT_EQ(ReadFileBytes(path_), "old");
    EXPECT_EQ(FileCount(), 1);  // the temporary file is gone
}

TEST_F(FileIoTest, ReadingSharesTheFileWithAWriter) {
    ASSERT_TRUE(WriteFileReplacing(path_, "shared"));
    const HANDLE writer = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadFileBytes(path_), "shared");
    CloseHandle(writer);
}

}  // namespace
}  // namespace ostrevane
