// The genuine WinDivert 2.2 DLL loaded by full path as a test oracle: its filter compiler,
// filter evaluator and checksum helper work without the driver.
#pragma once

#include <string>

#include "platform/unique_handle.h"
#include "tunnel/divert_types.h"

namespace ostrevane::testing {

std::wstring GenuineDivertDirectory();

class GenuineDivert {
public:
    GenuineDivert();  // fails the current test (ADD_FAILURE) when the DLL cannot be loaded

    bool loaded() const { return module_.get() != nullptr; }
    // True when WinDivert's own compiler accepts the filter at the network layer; error text otherwise.
    bool CompileFilter(const std::string& filter, std::string* error = nullptr) const;
    bool EvalFilter(const std::string& filter, const void* packet, unsigned length, bool outbound) const;
    bool CalcChecksums(void* packet, unsigned length) const;

    using CompileFn = BOOL (*)(const char*, WINDIVERT_LAYER, char*, UINT, const char**, UINT*);
    using EvalFn = BOOL (*)(const char*, const VOID*, UINT, const WINDIVERT_ADDRESS*);
    using ChecksumFn = BOOL (*)(VOID*, UINT, WINDIVERT_ADDRESS*, UINT64);
    ChecksumFn checksumFunction() const { return checksum_; }

private:
    UniqueModule module_;
    CompileFn compile_ = nullptr;
    EvalFn eval_ = nullptr;
    ChecksumFn checksum_ = nullptr;
};

}  // namespace ostrevane::testing
