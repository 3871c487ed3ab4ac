// RustDesk's configuration: the file text byte for byte, the list of profile folders of the
// prefix, and the files written into them (every file the tests touch is put back).
#include "remote_desktop/rustdesk_config.h"

#include <windows.h>
#include <knownfolders.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "remote_desktop/rustdesk_config_text.h"
#include "remote_desktop/toml_string.h"
#include "settings/json_parser.h"
#include "support/file_snapshot.h"
#include "support/test_files.h"

namespace ostrevane {
namespace {

using testing::DirectoryExists;
using testing::FileExists;
using testing::FileSnapshot;
using testing::SnapshotFiles;
using testing::RemoveDirectoryTree;
using testing::TempDirectory;

JsonValue Server(const std::wstring& json) { return ParseJsonDocument(json); }

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return text;
}

const std::string kFullText =
    "rendezvous_server = 'rs.example:21116'\n"
    "\n"
    "[options]\n"
    "custom-rendezvous-server = 'rs.example:21116'\n"
    "relay-server = 'relay.example:21117'\n"
    "key = 'PUBKEY='\n"
    "api-server = 'http://api.example:21114'\n";

const wchar_t kFullServer[] =
    LR"({"rendezvousServer":"rs.example:21116","relayServer":"relay.example:21117","key":"PUBKEY=",)"
    LR"("apiServer":"http://api.example:21114","windowsDownloadUrl":"/x.exe"})";

TEST(EscapeTomlText, PlainValuesKeepTheLiteralForm) {
    EXPECT_EQ(EscapeTomlText(L""), L"''");
    EXPECT_EQ(EscapeTomlText(L"plain text: 1.2.3.4"), L"'plain text: 1.2.3.4'");
    EXPECT_EQ(EscapeTomlText(L"C:\\dir\\"), L"'C:\\dir\\'") << "a literal string takes backslashes as they are";
    EXPECT_EQ(EscapeTomlText(L"\"quoted\"\t中文"), L"'\"quoted\"\t中文'");
}

TEST(EscapeTomlText, ApostrophesAndControlCharactersNeedABasicString) {
    EXPECT_EQ(EscapeTomlText(L"it's"), L"\"it's\"");
    EXPECT_EQ(EscapeTomlText(L"'\\\"\n\r\t\b\f"), L"\"'\\\\\\\"\\n\\r\\t\\b\\f\"");
    EXPECT_EQ(EscapeTomlText(std::wstring(L"a\0b\x1F\x7F", 5)), L"\"a\\u0000b\\u001F\\u007F\"");
    EXPECT_EQ(EscapeTomlText(L"line\nkey = 'x'"), L"\"line\\nkey = 'x'\"") << "a line break must not add a key";
}

TEST(RustDeskConfigText, FullDescriptionGivesSevenLines) {
    EXPECT_EQ(RustDeskConfigText(Server(kFullServer)), kFullText);
}

TEST(RustDeskConfigText, EmptyRelayAndKeyStayAndNoApiLine) {
    const std::string expected =
        "rendezvous_server = 'rs.example:21116'\n"
        "\n"
        "[options]\n"
        "custom-rendezvous-server = 'rs.example:21116'\n"
        "relay-server = ''\n"
        "key = ''\n";
    EXPECT_EQ(RustDeskConfigText(Server(LR"({"rendezvousServer":"rs.example:21116"})")), expected);
    EXPECT_EQ(RustDeskConfigText(Server(LR"({"rendezvousServer":"rs.example:21116","relayServer":"","key":"",)"
                                        LR"("apiServer":""})")),
              expected);
    // Members of another type count as empty.
    EXPECT_EQ(RustDeskConfigText(Server(LR"({"rendezvousServer":"rs.example:21116","relayServer":17,"key":null,)"
                                        LR"("apiServer":{"a":"b"}})")),
              expected);
}

TEST(RustDeskConfigText, ValuesAreEscapedAndWrittenAsUtf8) {
    const std::string text =
        RustDeskConfigText(Server(LR"({"rendezvousServer":"it's","relayServer":"a\\b","key":"中","apiServer":"'"})"))
            .value();
    EXPECT_EQ(text,
              "rendezvous_server = \"it's\"\n\n[options]\ncustom-rendezvous-server = \"it's\"\n"
              "relay-server = 'a\\b'\nkey = '\xE4\xB8\xAD'\napi-server = \"'\"\n");
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(RustDeskConfigText, NoRendezvousServerGivesNoText) {
    EXPECT_FALSE(RustDeskConfigText(Server(LR"({"relayServer":"r","key":"k","apiServer":"a"})")));
    EXPECT_FALSE(RustDeskConfigText(Server(LR"({"rendezvousServer":"","relayServer":"r"})")));
    EXPECT_FALSE(RustDeskConfigText(Server(LR"({"rendezvousServer":21116})")));
    EXPECT_FALSE(RustDeskConfigText(Server(LR"(["rendezvousServer","x"])")));
    EXPECT_FALSE(RustDeskConfigText(JsonValue(nullptr)));
}

TEST(AddPathOnce, DuplicatesInAnyLetterCaseAreDropped) {
    std::vector<std::wstring> paths;
    AddPathOnce(paths, L"C:\\users\\root\\AppData\\Roaming\\RustDesk\\config\\RustDesk2.toml");
    AddPathOnce(paths, L"C:\\Users\\ROOT\\appdata\\roaming\\RustDesk\\config\\RustDesk2.toml");
    AddPathOnce(paths, L"C:\\Users\\Public\\AppData\\Roaming\\RustDesk\\config\\RustDesk2.toml");
    AddPathOnce(paths, L"C:\\users\\root\\AppData\\Roaming\\RustDesk\\config\\RustDesk2.toml");
    EXPECT_EQ(paths, (std::vector<std::wstring>{L"C:\\users\\root\\AppData\\Roaming\\RustDesk\\config\\RustDesk2.toml",
                                                L"C:\\Users\\Public\\AppData\\Roaming\\RustDesk\\config\\RustDesk2.toml"}));
}

std::wstring ConfigIn(const std::wstring& roaming) { return roaming + L"\\RustDesk\\config\\RustDesk2.toml"; }

// A folder and a plain file of our own under the users folder, removed afterwards.
class ExtraUsersEntries {
public:
    ExtraUsersEntries() {
        CreateDirectoryW(folder_.c_str(), nullptr);
        WriteFileReplacing(file_, "not a profile");
    }
    ~ExtraUsersEntries() {
        DeleteFileW(file_.c_str());
        RemoveDirectoryTree(folder_);
    }
    const std::wstring folder_ = L"C:\\Users\\OstrevaneTestProfile";
    const std::wstring file_ = L"C:\\Users\\ostrevane-test-file";
};

// What the prefix holds, read with another API than the code under test.
std::vector<std::wstring> UserFolderNames() {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(L"C:\\Users"))) {
        if (entry.is_directory()) {
            names.push_back(entry.path().filename().wstring());
        }
    }
    return names;
}

TEST(RustDeskConfigPaths, CurrentUserThenEveryUserFolderThenBothServiceProfiles) {
    ExtraUsersEntries extra;
    const std::wstring roaming = KnownFolderPath(FOLDERID_RoamingAppData);
    ASSERT_EQ(Lower(roaming), L"c:\\users\\root\\appdata\\roaming");
    const std::vector<std::wstring> paths = RustDeskConfigPaths();

    std::set<std::wstring> expectedUsers;
    for (const std::wstring& name : UserFolderNames()) {
        if (Lower(name) != L"root") {  // the current user's folder is listed first, and once
            expectedUsers.insert(ConfigIn(L"C:\\Users\\" + name + L"\\AppData\\Roaming"));
        }
    }
    ASSERT_TRUE(expectedUsers.count(ConfigIn(L"C:\\Users\\OstrevaneTestProfile\\AppData\\Roaming")));
    ASSERT_TRUE(expectedUsers.count(ConfigIn(L"C:\\Users\\Public\\AppData\\Roaming")));

    ASSERT_EQ(paths.size(), expectedUsers.size() + 3);
    EXPECT_EQ(paths.front(), ConfigIn(roaming));
    EXPECT_EQ(std::set<std::wstring>(paths.begin() + 1, paths.end() - 2), expectedUsers);
    EXPECT_EQ(Lower(paths[paths.size() - 2]), Lower(ConfigIn(L"C:\\windows\\ServiceProfiles\\LocalService\\AppData\\Roaming")));
    EXPECT_EQ(Lower(paths.back()), Lower(ConfigIn(L"C:\\windows\\ServiceProfiles\\LocalSystem\\AppData\\Roaming")));
    for (const std::wstring& path : paths) {
        EXPECT_EQ(std::count_if(paths.begin(), paths.end(), [&](const std::wstring& p) { return Lower(p) == Lower(path); }), 1)
            << path.c_str();
    }
}

TEST(WriteRustDeskConfig, CreatesTheFoldersAndWritesTheText) {
    TempDirectory temporary;
    const std::wstring path = ConfigIn(temporary.path());
    WriteRustDeskConfig(path, Server(kFullServer));
    EXPECT_EQ(ReadFileBytes(path), kFullText);
    // Only the file itself is left: no temporary file beside it.
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(DirectoryPart(path)))) {
        names.push_back(entry.path().filename().wstring());
    }
    EXPECT_EQ(names, std::vector<std::wstring>{L"RustDesk2.toml"});
}

TEST(WriteRustDeskConfig, ReplacesAnExistingFileWhole) {
    TempDirectory temporary;
    const std::wstring path = ConfigIn(temporary.path());
    CreateDirectoryTree(DirectoryPart(path));
    ASSERT_TRUE(WriteFileReplacing(path, "enc_id = 'abc'\n[options]\nallow-remote-config-modification = 'Y'\n"
                                         "stop-service = 'Y'\nkey = 'old'\n" + std::string(5000, '#') + "\n"));
    WriteRustDeskConfig(path, Server(kFullServer));
    EXPECT_EQ(ReadFileBytes(path), kFullText);
}

TEST(WriteRustDeskConfig, WithoutRendezvousServerNothingIsTouched) {
    TempDirectory temporary;
    const std::wstring path = ConfigIn(temporary.path());
    WriteRustDeskConfig(path, Server(LR"({"relayServer":"r","key":"k"})"));
    EXPECT_FALSE(DirectoryExists(temporary / L"RustDesk"));

    CreateDirectoryTree(DirectoryPart(path));
    ASSERT_TRUE(WriteFileReplacing(path, "old"));
    WriteRustDeskConfig(path, Server(LR"({"rendezvousServer":"","relayServer":"r"})"));
    EXPECT_EQ(ReadFileBytes(path), "old");
}

TEST(WriteRustDeskConfig, NeverWritesThroughAJunctionOrLink) {
    TempDirectory temporary;
    const std::wstring elsewhere = temporary / L"elsewhere";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    // The profile folder itself a link, and a profile whose config folder is one.
    const std::wstring linkedProfile = temporary / L"linked";
    const std::wstring ownProfile = temporary / L"own";
    CreateDirectoryTree(ownProfile + L"\\RustDesk");
    if (!testing::MakeUnixLink(linkedProfile, elsewhere) ||
        !testing::MakeUnixLink(ownProfile + L"\\RustDesk\\config", elsewhere)) {
        GTEST_SKIP() << "no way to make a link here";
    }
    WriteRustDeskConfig(ConfigIn(linkedProfile), Server(kFullServer));
    WriteRustDeskConfig(ConfigIn(ownProfile), Server(kFullServer));
    EXPECT_FALSE(DirectoryExists(elsewhere + L"\\RustDesk"));
    EXPECT_FALSE(FileExists(elsewhere + L"\\RustDesk2.toml"));
    for (const std::wstring& link : {linkedProfile, ownProfile + L"\\RustDesk\\config"}) {
        DeleteFileW(link.c_str());
        RemoveDirectoryW(link.c_str());
    }
}

TEST(WriteRustDeskConfig, AnUnwritablePlaceIsSkippedSilently) {
    TempDirectory temporary;
    // A folder where the file should be cannot be replaced by a file.
    const std::wstring path = ConfigIn(temporary.path());
    CreateDirectoryTree(path);
    EXPECT_NO_THROW(WriteRustDeskConfig(path, Server(kFullServer)));
    EXPECT_TRUE(DirectoryExists(path));
}

TEST(ConfigureRustDesk, WritesEveryProfileFolderOfThePrefix) {
    ExtraUsersEntries extra;
    const std::vector<std::wstring> paths = RustDeskConfigPaths();
    const auto snapshots = SnapshotFiles(paths);
    // One place already configured by hand, with settings that must not survive.
    CreateDirectoryTree(DirectoryPart(paths.front()));
    ASSERT_TRUE(WriteFileReplacing(paths.front(), "custom = 'x'\n"));

    ConfigureRustDesk(Server(kFullServer));
    for (const std::wstring& path : paths) {
        EXPECT_EQ(ReadFileBytes(path), kFullText) << path.c_str();
    }
    EXPECT_EQ(ReadFileBytes(ConfigIn(L"C:\\Users\\OstrevaneTestProfile\\AppData\\Roaming")), kFullText);
    EXPECT_EQ(ReadFileBytes(ConfigIn(L"C:\\windows\\ServiceProfiles\\LocalSystem\\AppData\\Roaming")), kFullText);
}

TEST(ConfigureRustDesk, OneUnwritablePlaceDoesNotStopTheOthers) {
    ExtraUsersEntries extra;
    const std::vector<std::wstring> paths = RustDeskConfigPaths();
    const auto snapshots = SnapshotFiles(paths);
    const std::wstring blocked = ConfigIn(L"C:\\Users\\OstrevaneTestProfile\\AppData\\Roaming");
    CreateDirectoryTree(blocked);  // a folder in the file's place

    ConfigureRustDesk(Server(kFullServer));
    for (const std::wstring& path : paths) {
        if (path != blocked) {
            EXPECT_EQ(ReadFileBytes(path), kFullText) << path.c_str();
        }
    }
    EXPECT_TRUE(DirectoryExists(blocked));
}

TEST(ConfigureRustDesk, WithoutRendezvousServerNoFileAndNoFolderIsMade) {
    ExtraUsersEntries extra;
    const std::vector<std::wstring> paths = RustDeskConfigPaths();
    const auto snapshots = SnapshotFiles(paths);
    ConfigureRustDesk(Server(LR"({"relayServer":"relay.example:21117","key":"k","apiServer":"a"})"));
    for (const auto& snapshot : snapshots) {
        EXPECT_EQ(ReadFileBytes(snapshot->path()), snapshot->original()) << snapshot->path().c_str();
        if (!snapshot->missingFolder().empty()) {
            EXPECT_FALSE(DirectoryExists(snapshot->missingFolder())) << snapshot->missingFolder().c_str();
        }
    }
    EXPECT_FALSE(DirectoryExists(L"C:\\Users\\OstrevaneTestProfile\\AppData"));
}

}  // namespace
}  // namespace ostrevane
