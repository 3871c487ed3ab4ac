// The settings file in the real roaming folder of the test prefix. Every test puts back the
// file (and its kept-aside copy) as it found them.
#include "settings/settings_file.h"

#include <windows.h>

#include <knownfolders.h>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "settings/settings_json.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

namespace ostrevane {
namespace {

using settings_test::IsEngineerId;

// Names of the files in the settings folder other than the settings file and its copy.
std::vector<std::wstring> StrayFiles(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW(JoinPath(folder, L"Client.settings.json.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        // The pattern also matches the settings file itself.
        const std::wstring name = data.cFileName;
        const std::wstring copyPrefix = std::wstring(L"Client.settings.json") + kUnreadableSettingsSuffix;
        if (name != L"Client.settings.json" && name.rfind(copyPrefix, 0) != 0) {
            names.push_back(name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// The kept-aside copies of the settings file, oldest first, with their contents.
std::vector<std::pair<std::wstring, std::string>> Copies(const std::wstring& path) {
    std::vector<std::pair<std::wstring, std::string>> copies;
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW((path + kUnreadableSettingsSuffix + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return copies;
    }
    do {
        const std::wstring full = JoinPath(DirectoryPart(path), data.cFileName);
        copies.emplace_back(full, ReadFileBytes(full).value_or(""));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(copies.begin(), copies.end());
    return copies;
}

std::vector<std::string> CopyContents(const std::wstring& path) {
    std::vector<std::string> contents;
    for (const auto& copy : Copies(path)) {
        contents.push_back(copy.second);
    }
    return contents;
}

void DeleteCopies(const std::wstring& path) {
    for (const auto& copy : Copies(path)) {
        DeleteFileW(copy.first.c_str());
    }
}

ClientState CustomState() {
    ClientState state;
    state.serverUrl = L"http://10.0.0.5:8080";
    state.deviceSecret = L"key";
    state.deviceName = L"Site";
    state.profileName = L"Profile";
    state.engineerId = L"ENG-11111111";
    state.heartbeatAccepted = true;
    state.siteProfiles = {{L"Profile", L"http://10.0.0.5:8080", L"D", L"key", L"ALL", {L"10.1.0.0/16"}}};
    return state;
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = SettingsFilePath();
        originalFile_ = ReadFileBytes(path_);
        originalCopies_ = Copies(path_);
        DeleteFileW(path_.c_str());
        DeleteCopies(path_);
    }

    void TearDown() override {
        Restore(path_, originalFile_);
        DeleteCopies(path_);
        for (const auto& [name, bytes] : originalCopies_) {
            WriteFileReplacing(name, bytes);
        }
    }

    static void Restore(const std::wstring& path, const std::optional<std::string>& bytes) {
        if (bytes) {
            WriteFileReplacing(path, *bytes);
        } else {
            DeleteFileW(path.c_str());
        }
    }

    void WriteSettings(const std::string& bytes) { ASSERT_TRUE(WriteFileReplacing(path_, bytes)); }

    std::wstring path_;
    std::optional<std::string> originalFile_;
    std::vector<std::pair<std::wstring, std::string>> originalCopies_;
};

TEST_F(SettingsFileTest, LivesInTheRoamingFolder) {
    const std::wstring roaming = KnownFolderPath(FOLDERID_RoamingAppData);
    ASSERT_FALSE(roaming.empty());
    EXPECT_EQ(path_, roaming + L"\\Ostrevane\\Client.settings.json");
    const DWORD attributes = GetFileAttributesW(DirectoryPart(path_).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(SettingsFileTest, MissingFileGivesANewEngineerIdAndKeepsEverythingElse) {
    ClientState state = CustomState();
    LoadClientState(state);
    EXPECT_TRUE(IsEngineerId(state.engineerId)) << state.engineerId.c_str();
    EXPECT_NE(state.engineerId, L"ENG-11111111");
    ClientState expected = CustomState();
    expected.engineerId = state.engineerId;
    EXPECT_EQ(state, expected);
}

TEST_F(SettingsFileTest, EmptyFileChangesNothing) {
    WriteSettings("");
    ClientState state;
    LoadClientState(state);
    EXPECT_EQ(state, ClientState{});
    EXPECT_TRUE(state.engineerId.empty());
    EXPECT_TRUE(Copies(path_).empty());
}

TEST_F(SettingsFileTest, EveryUnparsableFileIsKeptAsideUnderItsOwnName) {
    const std::string broken = "{\"deviceSecret\": \"other\", \"siteProfiles\": [{\"name\": \"Lost\"";
    WriteSettings(broken);
    ClientState state = CustomState();
    LoadClientState(state);
    EXPECT_TRUE(IsEngineerId(state.engineerId));
    ClientState expected = CustomState();
    expected.engineerId = state.engineerId;
    EXPECT_EQ(state, expected);
    EXPECT_EQ(CopyContents(path_), std::vector<std::string>{broken});

    // A later unreadable file gets a copy of its own beside the first, and saving leaves both.
    WriteSettings("\"unterminated");
    LoadClientState(state);
    SaveClientState(state);
    EXPECT_EQ(CopyContents(path_), (std::vector<std::string>{broken, "\"unterminated"}));
    EXPECT_EQ(ReadFileBytes(path_), WideToUtf8(SettingsFileText(state)));
}

TEST_F(SettingsFileTest, OnlyTheNewestUnreadableCopiesAreKept) {
    ClientState state = CustomState();
    for (int round = 0; round < 12; ++round) {
        std::string content = std::to_string(round);
        content.insert(content.begin(), '[');
        WriteSettings(content);
        LoadClientState(state);
    }
    const std::vector<std::string> contents = CopyContents(path_);
    ASSERT_EQ(contents.size(), kKeptUnreadableCopies);
    EXPECT_EQ(contents.front(), "[2");
    EXPECT_EQ(contents.back(), "[11");
}

TEST_F(SettingsFileTest, FileWithoutAnObjectIsKeptAside) {
    WriteSettings("42");
    ClientState state = CustomState();
    LoadClientState(state);
    EXPECT_EQ(CopyContents(path_), std::vector<std::string>{"42"});
    EXPECT_EQ(state.deviceSecret, L"key");
    EXPECT_TRUE(state.siteProfiles.empty());
    EXPECT_EQ(state.engineerId, L"ENG-11111111");
}

TEST_F(SettingsFileTest, ALeadingByteOrderMarkIsSkipped) {
    WriteSettings("\xEF\xBB\xBF{\"deviceSecret\": \"x\", \"siteProfiles\": [{\"name\": \"P\"}]}");
    ClientState state = CustomState();
    LoadClientState(state);
    EXPECT_EQ(state.deviceSecret, L"x");
    ASSERT_EQ(state.siteProfiles.size(), 1u);
    EXPECT_EQ(state.siteProfiles[0].name, L"P");
    EXPECT_TRUE(Copies(path_).empty());
}

TEST(UnreadableCopies, NamesSortByTimeAndCounterAndTheOldestGoFirst) {
    const std::wstring a = UnreadableCopyName(L"C:\\s.json", 2026, 12, 8, 9, 5, 7, 3, 0);
    EXPECT_EQ(a, L"C:\\s.json.corrupt-20261208-090507-003-00");
    const std::wstring b = UnreadableCopyName(L"C:\\s.json", 2026, 12, 8, 9, 5, 7, 3, 10);
    const std::wstring c = UnreadableCopyName(L"C:\\s.json", 2026, 12, 8, 10, 0, 0, 0, 0);
    EXPECT_EQ(CopiesBeyondLimit({c, a, b}, 2), std::vector<std::wstring>{a});
    EXPECT_EQ(CopiesBeyondLimit({b, c, a}, 1), (std::vector<std::wstring>{a, b}));
    EXPECT_TRUE(CopiesBeyondLimit({a, b}, 2).empty());
}

TEST_F(SettingsFileTest, WrongTypedMembersAreIgnored) {
    WriteSettings(
        "{\"serverUrl\": 8080, \"deviceSecret\": \"new key\", \"deviceName\": [\"x\"],"
        " \"rustDeskServiceRunning\": \"true\", \"heartbeatAccepted\": false, \"engineerId\": 12345678,"
        " \"siteProfiles\": {\"name\": \"P\"}} trailing");
    ClientState state = CustomState();
    LoadClientState(state);
    ClientState expected = CustomState();
    expected.deviceSecret = L"new key";
    expected.heartbeatAccepted = false;
    expected.siteProfiles.clear();
    EXPECT_EQ(state, expected);
    EXPECT_TRUE(Copies(path_).empty());
}

TEST_F(SettingsFileTest, AnEmptyEngineerIdInTheFileIsReplaced) {
    WriteSettings("{\"engineerId\": \"\", \"deviceName\": \"Site B\"}");
    ClientState state;
    LoadClientState(state);
    EXPECT_TRUE(IsEngineerId(state.engineerId));
    EXPECT_EQ(state.profileName, L"Site B");
}

TEST_F(SettingsFileTest, SaveWritesTheTextAndLeavesNoTemporaryFile) {
    WriteSettings(std::string(200000, 'x'));  // a longer old file must not leave a tail
    const ClientState state = CustomState();
    SaveClientState(state);
    const auto bytes = ReadFileBytes(path_);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, WideToUtf8(SettingsFileText(state)));
    EXPECT_EQ(bytes->rfind("{\n  \"serverUrl\": \"http://10.0.0.5:8080\",\n", 0), 0u);
    EXPECT_TRUE(StrayFiles(DirectoryPart(path_)).empty());
}

TEST_F(SettingsFileTest, AFailedSaveLeavesTheOldFileWhole) {
    const std::string old = WideToUtf8(SettingsFileText(CustomState()));
    WriteSettings(old);
    {
        // Open without delete sharing: the file cannot be replaced while this handle lives.
        const HANDLE holder = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        SaveClientState(ClientState{});
        CloseHandle(holder);
    }
    EXPECT_EQ(ReadFileBytes(path_), old);
    EXPECT_TRUE(StrayFiles(DirectoryPart(path_)).empty());
}

TEST_F(SettingsFileTest, RandomStatesSurviveSaveAndLoad) {
    std::mt19937 random(777);
    for (int round = 0; round < 60; ++round) {
        const ClientState saved = settings_test::RandomClientState(random);
        SaveClientState(saved);
        ClientState loaded = CustomState();
        LoadClientState(loaded);
        ClientState expected = settings_test::ExpectedAfterReload(saved);
        if (expected.engineerId.empty()) {
            ASSERT_TRUE(IsEngineerId(loaded.engineerId)) << "round " << round;
            expected.engineerId = loaded.engineerId;
        }
        ASSERT_EQ(loaded, expected) << "round " << round;
    }
}

}  // namespace
}  // namespace ostrevane
