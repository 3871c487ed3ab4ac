// Set-up of tests that drive the main window against the reference service: a fresh service, a
// settings file that points at it, the stand-in driver with its harness so that a connect brings
// the tunnel up, a log file of the test's own, and the user's proxy value and settings file put
// back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "settings/client_state.h"
#include "support/divert_harness.h"
#include "support/state_guards.h"
#include "support/test_files.h"
#include "support/window_driver.h"

namespace ostrevane::testing {

inline constexpr wchar_t kWindowTestEngineerId[] = L"ENG-20000001";

class ServiceWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Saves the settings the window starts from (the service's address, a fixed engineer id, and
    // what `adjust` changes), then creates the window, which loads them.
    void Open(const std::function<void(ClientState&)>& adjust = {});

    WindowDriver& window() { return *window_; }

    TempDirectory temp_;
    SettingsFileGuard settings_;
    ProxyOverrideGuard proxy_{L"*.local"};
    DivertHarness harness_;
    std::unique_ptr<WindowDriver> window_;
};

}  // namespace ostrevane::testing
