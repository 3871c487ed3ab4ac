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

// Element texts between brackets, separated by commas.
std::wstring ArrayText(const std::vector<std::wstring>& elements) {
    return L"[" + JoinLines(elements, L",") + L"]";
}

std::wstring QuotedList(const std::vector<std::wstring>& items) {
    std::vector<std::wstring> quoted;
    quoted.reserve(items.size());
    for (const std::wstring& item : items) {
        quoted.push_back(JsonQuote(item));
    }
    return ArrayText(quoted);
}

std::wstring ProfileText(const SiteProfile& profile) {
    const std::wstring target = profile.targetNetwork.empty() ? L"ALL" : profile.targetNetwork;
    return L"{\"name\":" + JsonQuote(profile.name) +
           L",\"serverUrl\":" + JsonQuote(NormalizeServerUrl(profile.serverUrl)) +
           L",\"deviceNumber\":" + JsonQuote(profile.deviceNumber) +
           L",\"deviceSecret\":" + JsonQuote(profile.deviceSecret) +
           L",\"targetNetwork\":" + JsonQuote(target) +
           L",\"sharedNetworks\":" + QuotedList(profile.sharedNetworks) + L"}";
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
    std::vector<std::wstring> objects;
    objects.reserve(profiles.size());
    for (const SiteProfile& profile : profiles) {
        objects.push_back(ProfileText(profile));
    }
    return ArrayText(objects);
}

}  // namespace ostrevane
