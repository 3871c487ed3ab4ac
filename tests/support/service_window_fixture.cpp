#include "support/service_window_fixture.h"

#include "support/divert_files_choice.h"
#include "app/log_file.h"
#include "platform/administrators_folder.h"
#include "settings/settings_file.h"
#include "support/reference_service.h"
#include "support/service_client.h"

namespace ostrevane::testing {

void ServiceWindowTest::SetUp() {
    ServiceData(L"POST", L"/admin/reset", "{}");
    UseLogFileForTesting(temp_ / L"run.log");
    testing::UseDivertLibraryIn(DivertStandinDirectory());
    TrustCurrentAccountForTesting(true);  // Wine keeps no security descriptors
}

void ServiceWindowTest::TearDown() {
    window_.reset();
    TrustCurrentAccountForTesting(false);
    testing::UseEmbeddedDivertFiles();
    UseLogFileForTesting(L"");
    ServiceData(L"POST", L"/admin/reset", "{}");
}

void ServiceWindowTest::Open(const std::function<void(ClientState&)>& adjust) {
    ClientState saved;
    saved.serverUrl = ServiceUrl();
    saved.engineerId = kWindowTestEngineerId;
    if (adjust) {
        adjust(saved);
    }
    SaveClientState(saved);
    window_ = std::make_unique<WindowDriver>();
}

}  // namespace ostrevane::testing
