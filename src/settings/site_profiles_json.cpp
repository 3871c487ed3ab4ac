#include "settings/site_profiles_json.h"

#include "settings/text_utils.h"

namespace ostrevane {
namespace {

std::wstring StringMember(const JsonValue& object, const std::wstring& key, const std::wstring& fallback) {
    const std::wstring* text = JsonFindAs<std::wstring>(object, key);
    return text != nullptr ? *text : fallback;
}

SiteProfile ReadProfile(const JsonValue& object) {
    SiteProfile profile;
    profile.name = StringMember(object, L"name", L"");
    profile.serverUrl = NormalizeServerUrl(StringMember(object, L"serverUrl", kDefaultServerUrl));
    profile.deviceNumber = StringMember(object, L"deviceNumber", L"");
    profile.deviceSecret = StringMember(object, L"deviceSecret", L"");
    profile.targetNetwork = StringMember(object, L"targetNetwork", L"ALL");
    if (const auto* networks = JsonFindAs<JsonArray>(object, L"sharedNetworks")) {
        for (const JsonValue& item : *networks) {
            if (const auto* text = std::get_if<std::wstring>(&item)) {
                profile.sharedNetworks.push_back(*text);
            }
        }
    }
    return profile;
}

void AppendMember(std::wstring& out, const wchar_t* key, const std::wstring& valueText, bool first = false) {
    if (!first) {
        out += L',';
    }
    out += L'"';
    out += key;
    out += L"\":";
    out += valueText;
}

std::wstring QuotedList(const std::vector<std::wstring>& items) {
    std::wstring out = L"[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += L',';
        }
        out += JsonQuote(items[i]);
    }
    out += L']';
    return out;
}

}  // namespace

std::vector<SiteProfile> ReadSiteProfiles(const JsonValue& root, const std::wstring& key) {
    std::vector<SiteProfile> profiles;
    const auto* list = JsonFindAs<JsonArray>(root, key);
    if (list == nullptr) {
        return profiles;
    }
    for (const JsonValue& element : *list) {
        if (!std::holds_alternative<JsonObject>(element)) {
            continue;
        }
        SiteProfile profile = ReadProfile(element);
        if (!profile.name.empty()) {
            profiles.push_back(std::move(profile));
        }
    }
    return profiles;
}

std::wstring WriteSiteProfiles(const std::vector<SiteProfile>& profiles) {
    std::wstring out = L"[";
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        const SiteProfile& profile = profiles[i];
        if (i > 0) {
            out += L',';
        }
        out += L'{';
        AppendMember(out, L"name", JsonQuote(profile.name), true);
        AppendMember(out, L"serverUrl", JsonQuote(NormalizeServerUrl(profile.serverUrl)));
        AppendMember(out, L"deviceNumber", JsonQuote(profile.deviceNumber));
        AppendMember(out, L"deviceSecret", JsonQuote(profile.deviceSecret));
        AppendMember(out, L"targetNetwork", JsonQuote(profile.targetNetwork.empty() ? L"ALL" : profile.targetNetwork));
        AppendMember(out, L"sharedNetworks", QuotedList(profile.sharedNetworks));
        out += L'}';
    }
    out += L']';
    return out;
}

}  // namespace ostrevane
