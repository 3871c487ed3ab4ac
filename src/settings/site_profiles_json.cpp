#include "settings/site_profiles_json.h"

#include "settings/text_utils.h"

namespace ostrevane {
namespace {

SiteProfile ReadProfile(const JsonValue& object) {
    SiteProfile profile;
    profile.name = JsonStringOr(object, L"name", L"");
    profile.serverUrl = NormalizeServerUrl(JsonStringOr(object, L"serverUrl", kDefaultServerUrl));
    profile.deviceNumber = JsonStringOr(object, L"deviceNumber", L"");
    profile.deviceSecret = JsonStringOr(object, L"deviceSecret", L"");
    profile.targetNetwork = JsonStringOr(object, L"targetNetwork", L"ALL");
    profile.sharedNetworks = JsonStringElements(object, L"sharedNetworks");
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
