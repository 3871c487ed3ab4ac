#include "settings/settings_file.h"

#include <windows.h>

#include <knownfolders.h>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "settings/json_parser.h"
#include "settings/settings_json.h"
#include "settings/text_utils.h"
#include "settings/unreadable_copies.h"

namespace ostrevane {
namespace {

// Editors such as Notepad save UTF-8 with a byte-order mark; it is no part of the settings.
std::string WithoutByteOrderMark(const std::string& bytes) {
    constexpr char kMark[] = "\xEF\xBB\xBF";
    return bytes.rfind(kMark, 0) == 0 ? bytes.substr(3) : bytes;
}

}  // namespace

std::wstring SettingsFilePath() {
    const std::wstring folder = JoinPath(KnownFolderPath(FOLDERID_RoamingAppData), L"Ostrevane");
    CreateDirectoryTree(folder);
    return JoinPath(folder, L"Client.settings.json");
}

void LoadClientState(ClientState& state) noexcept {
    try {
        const std::wstring path = SettingsFilePath();
        const std::optional<std::string> bytes = ReadFileBytes(path);
        if (!bytes) {
            state.engineerId = NewEngineerId();
            return;
        }
        if (bytes->empty()) {
            return;
        }
        bool parsed = false;
        try {
            const JsonValue root = ParseJsonDocument(Utf8ToWide(WithoutByteOrderMark(*bytes)));
            parsed = true;
            if (!std::holds_alternative<JsonObject>(root)) {
                KeepUnreadableFile(path);
            }
            ApplySettingsRoot(root, state);
            if (state.engineerId.empty()) {
                state.engineerId = NewEngineerId();
            }
        } catch (...) {
            // A parse failure happens before any assignment: every other field keeps its value.
            if (!parsed) {
                KeepUnreadableFile(path);
            }
            state.engineerId = NewEngineerId();
        }
    } catch (...) {
        // Loading never fails its caller; whatever was assigned stands.
    }
}

void SaveClientState(const ClientState& state) noexcept {
    try {
        const std::wstring path = SettingsFilePath();
        CreateDirectoryTree(DirectoryPart(path));
        WriteFileReplacing(path, WideToUtf8(SettingsFileText(state)));
    } catch (...) {
        // Save failures are silent; the record in memory is unaffected.
    }
}

}  // namespace ostrevane
