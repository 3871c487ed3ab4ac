#include "support/engine_fixture.h"

#include "support/divert_files_choice.h"
#include "settings/text_utils.h"

namespace ostrevane::testing {

const JsonValue* JsonPath(const JsonValue& root, std::initializer_list<const wchar_t*> keys) {
    const JsonValue* value = &root;
    for (const wchar_t* key : keys) {
        value = value ? JsonFind(*value, key) : nullptr;
    }
    return value;
}

double JsonNumber(const JsonValue& root, std::initializer_list<const wchar_t*> keys) {
    const JsonValue* value = JsonPath(root, keys);
    const double* number = value ? std::get_if<double>(value) : nullptr;
    return number ? *number : -1;
}

JsonValue ServiceState() { return ServiceData(L"GET", L"/admin/state"); }

std::vector<ServicePacket> ServicePackets() {
    std::vector<ServicePacket> packets;
    const JsonValue data = ServiceData(L"GET", L"/admin/packets");
    if (const auto* list = std::get_if<JsonArray>(&data)) {
        for (const JsonValue& entry : *list) {
            ServicePacket packet;
            if (const auto* text = JsonFindAs<std::wstring>(entry, L"direction")) packet.direction = WideToUtf8(*text);
            if (const auto* text = JsonFindAs<std::wstring>(entry, L"via")) packet.via = WideToUtf8(*text);
            if (const auto* text = JsonFindAs<std::wstring>(entry, L"verdict")) packet.verdict = WideToUtf8(*text);
            if (const auto* length = JsonFindAs<double>(entry, L"length")) packet.length = static_cast<std::size_t>(*length);
            packets.push_back(packet);
        }
    }
    return packets;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::uint32_t LocalAddressFor(const TunnelEngine& engine, std::uint32_t siteAddress) {
    for (const RouteMapping& mapping : engine.routeMappings()) {
        const std::uint32_t mask = PrefixMask(mapping.targetPrefix);
        if ((siteAddress & mask) == mapping.targetNetwork) {
            return mapping.mappingNetwork | (siteAddress & ~mask);
        }
    }
    ADD_FAILURE() << "no route holds " << FormatIpv4(siteAddress);
    return siteAddress;
}

void EngineFixture::SetUp() {
    testing::UseDivertLibraryIn(DivertStandinDirectory());
    ResetService();
    harness_ = std::make_unique<DivertHarness>();
    grant_ = RequestGrant(L"ENG-10000001");
    ASSERT_FALSE(grant_.connectionId.empty());
}

void EngineFixture::TearDown() {
    harness_.reset();
    testing::UseEmbeddedDivertFiles();
}

TunnelEngineOptions EngineFixture::FastOptions() const {
    TunnelEngineOptions options;
    options.runServiceCommands = false;
    return options;
}

std::wstring EngineFixture::StartOnGrant(TunnelEngine& engine, const std::vector<std::wstring>& routes) {
    return engine.Start(ServiceUrl(), grant_.connectionId, L"ENG-10000001", grant_.assignedAddress,
                        routes.empty() ? grant_.routes : routes);
}

}  // namespace ostrevane::testing
