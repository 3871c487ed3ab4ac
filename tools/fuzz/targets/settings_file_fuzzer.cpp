// The settings file as it is read at start-up: any content gives a ClientState or one of the
// parser's two errors, and the text the client writes for that state reads back as the same
// state, except where the writer deliberately canonicalises (base URLs normalised once more,
// an empty profile target written as "ALL").
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "fuzz_support.h"
#include "json_tree.h"
#include "settings/settings_json.h"
#include "settings/site_profiles_json.h"

namespace {

using namespace ostrevane;

// The state that reading the written text of `state` must give.
ClientState Canonical(ClientState state) {
    state.serverUrl = NormalizeServerUrl(NormalizeServerUrl(state.serverUrl));
    if (state.profileName.empty()) {
        state.profileName = state.deviceName;
    }
    for (SiteProfile& profile : state.siteProfiles) {
        profile.serverUrl = NormalizeServerUrl(NormalizeServerUrl(profile.serverUrl));
        if (profile.targetNetwork.empty()) {
            profile.targetNetwork = L"ALL";
        }
    }
    return state;
}

void LoadAndSave(const std::wstring& text) {
    ClientState loaded;
    try {
        ApplySettingsRoot(ParseJsonDocument(text), loaded);
    } catch (const std::runtime_error& error) {
        FUZZ_CHECK(fuzz::IsParserError(error));
        return;
    }
    for (const SiteProfile& profile : loaded.siteProfiles) {
        FUZZ_CHECK(!profile.name.empty());
    }
    const std::wstring written = SettingsFileText(loaded);
    FUZZ_CHECK(written.starts_with(L"{\n") && written.ends_with(L"\n}\n"));
    ClientState reread;
    try {
        ApplySettingsRoot(ParseJsonDocument(written), reread);
    } catch (const std::runtime_error&) {
        FUZZ_CHECK(!"the written settings text must parse");
    }
    FUZZ_CHECK(reread == Canonical(loaded));
    // The bytes on disk go through the UTF-8 conversion; only unpaired surrogates may change there.
    (void)Utf8ToWide(WideToUtf8(written));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    LoadAndSave(fuzz::TextAsUtf8(data, size));
    LoadAndSave(fuzz::TextAsUnits(data, size));
    return 0;
}
