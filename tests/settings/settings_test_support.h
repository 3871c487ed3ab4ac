// Test helpers of the settings area: the engineer-id shape, and random ClientState records for
// round trips (texts full of quotes, backslashes, line breaks, tabs, Chinese, NUL and lone
// surrogates) with what a save and a load make of them.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "settings/client_state.h"
#include "settings/text_utils.h"

namespace ostrevane::settings_test {

// "ENG-" and eight digits, the first not zero.
inline bool IsEngineerId(const std::wstring& id) {
    if (id.size() != 12 || id.rfind(L"ENG-", 0) != 0 || id[4] == L'0') {
        return false;
    }
    for (std::size_t i = 4; i < id.size(); ++i) {
        if (id[i] < L'0' || id[i] > L'9') {
            return false;
        }
    }
    return true;
}

inline std::wstring RandomText(std::mt19937& random) {
    static const std::vector<std::wstring> kPieces = {
        L"a", L"Z", L"0", L" ", L"\"", L"\\", L"\r\n", L"\t", L"\n", L"\r", L"/", L"\u4E2D\u6587", L"\u672A\u6D4B\u8BD5",
        std::wstring(1, L'\0'), std::wstring(1, static_cast<wchar_t>(0xD800)), std::wstring(1, static_cast<wchar_t>(0xDFFF)),
        L"\U0001F600", L"\\u0041", L"{", L"}", L"[", L"]", L",", L":", L"\x01", L"\x1F", L"\x7F", L"\u00E9", L"\uFEFF",
        L"\uFFFF", L"http://", L"true", L"null", L"10.1.0.0/16",
    };
    if (random() % 4 == 0) {
        return {};
    }
    std::wstring text;
    const unsigned pieces = 1 + random() % 12;
    for (unsigned i = 0; i < pieces; ++i) {
        if (random() % 8 == 0) {
            text.push_back(static_cast<wchar_t>(random() % 0x10000));
        } else {
            text += kPieces[random() % kPieces.size()];
        }
    }
    return text;
}

// Every text field of the record.
inline std::vector<std::wstring*> TextFields(ClientState& state) {
    return {&state.serverUrl, &state.deviceNumber, &state.deviceSecret, &state.deviceName, &state.profileName,
            &state.networkInterfaceName, &state.sharedNetworksText, &state.targetNetwork, &state.engineerId,
            &state.rustDeskPath, &state.rustDeskAccessPassword, &state.rustDeskId, &state.connectionId,
            &state.assignedAddress, &state.routesText, &state.testIp, &state.latencyText, &state.heartbeatMessage};
}

inline ClientState RandomClientState(std::mt19937& random) {
    ClientState state;
    for (std::wstring* field : TextFields(state)) {
        *field = RandomText(random);
    }
    state.rustDeskServiceRunning = random() % 2 == 0;
    state.heartbeatAccepted = random() % 2 == 0;
    const unsigned profiles = random() % 5;
    for (unsigned i = 0; i < profiles; ++i) {
        SiteProfile profile{RandomText(random), RandomText(random), RandomText(random),
                            RandomText(random), RandomText(random), {}};
        const unsigned networks = random() % 4;
        for (unsigned n = 0; n < networks; ++n) {
            profile.sharedNetworks.push_back(RandomText(random));
        }
        state.siteProfiles.push_back(std::move(profile));
    }
    return state;
}

// UTF-8 cannot carry an unpaired surrogate: the platform converter writes U+FFFD instead.
inline std::wstring ReplaceLoneSurrogates(const std::wstring& text) {
    std::wstring out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const unsigned unit = static_cast<unsigned>(out[i]);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < out.size() && static_cast<unsigned>(out[i + 1]) >= 0xDC00 &&
            static_cast<unsigned>(out[i + 1]) <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            out[i] = static_cast<wchar_t>(0xFFFD);
        }
    }
    return out;
}

// The record that saving `saved` and loading the file again must give, apart from the engineer
// id (a new one replaces an empty one): texts through UTF-8, serverUrl normalised by the save
// and again by the load, an empty profileName filled from deviceName, profiles as read back.
inline ClientState ExpectedAfterReload(const ClientState& saved) {
    const auto text = ReplaceLoneSurrogates;
    ClientState expected = saved;
    for (std::wstring* field : TextFields(expected)) {
        *field = text(*field);
    }
    expected.serverUrl = NormalizeServerUrl(text(NormalizeServerUrl(saved.serverUrl)));
    if (expected.profileName.empty()) {
        expected.profileName = expected.deviceName;
    }
    expected.siteProfiles.clear();
    for (const SiteProfile& profile : saved.siteProfiles) {
        if (profile.name.empty()) {
            continue;
        }
        SiteProfile read{text(profile.name),
                         NormalizeServerUrl(text(NormalizeServerUrl(profile.serverUrl))),
                         text(profile.deviceNumber),
                         text(profile.deviceSecret),
                         profile.targetNetwork.empty() ? L"ALL" : text(profile.targetNetwork),
                         {}};
        for (const std::wstring& network : profile.sharedNetworks) {
            read.sharedNetworks.push_back(text(network));
        }
        expected.siteProfiles.push_back(std::move(read));
    }
    return expected;
}

}  // namespace ostrevane::settings_test
