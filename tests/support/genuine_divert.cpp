#include "support/genuine_divert.h"

#include <gtest/gtest.h>

namespace ostrevane::testing {

std::wstring GenuineDivertDirectory() { return OSTREVANE_WINDIVERT_DIR_W; }

GenuineDivert::GenuineDivert() {
    const std::wstring path = GenuineDivertDirectory() + L"\\WinDivert.dll";
    module_.reset(LoadLibraryW(path.c_str()));
    if (!module_) {
        ADD_FAILURE() << "cannot load the genuine WinDivert.dll, error " << GetLastError();
        return;
    }
    auto resolve = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module_.get(), name)); };
    compile_ = reinterpret_cast<CompileFn>(resolve("WinDivertHelperCompileFilter"));
    eval_ = reinterpret_cast<EvalFn>(resolve("WinDivertHelperEvalFilter"));
    checksum_ = reinterpret_cast<ChecksumFn>(resolve("WinDivertHelperCalcChecksums"));
    if (!compile_ || !eval_ || !checksum_) {
        ADD_FAILURE() << "the genuine WinDivert.dll lacks its helper exports";
        module_.reset();
    }
}

bool GenuineDivert::CompileFilter(const std::string& filter, std::string* error) const {
    if (!compile_) {
        return false;
    }
    const char* errorText = nullptr;
    UINT errorPosition = 0;
    const BOOL ok = compile_(filter.c_str(), WINDIVERT_LAYER_NETWORK, nullptr, 0, &errorText, &errorPosition);
    if (!ok && error != nullptr) {
        *error = std::string(errorText ? errorText : "?") + " at " + std::to_string(errorPosition);
    }
    return ok != FALSE;
}

bool GenuineDivert::EvalFilter(const std::string& filter, const void* packet, unsigned length, bool outbound) const {
    if (!eval_) {
        return false;
    }
    WINDIVERT_ADDRESS address{};
    address.Layer = WINDIVERT_LAYER_NETWORK;
    address.Outbound = outbound ? 1 : 0;
    return eval_(filter.c_str(), packet, length, &address) != FALSE;
}

bool GenuineDivert::CalcChecksums(void* packet, unsigned length) const {
    if (!checksum_) {
        return false;
    }
    WINDIVERT_ADDRESS address{};
    return checksum_(packet, length, &address, 0) != FALSE;
}

}  // namespace ostrevane::testing
