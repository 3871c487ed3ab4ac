#include "tunnel/divert_api.h"

#include <stdexcept>

namespace ostrevane {
namespace {

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    // GetProcAddress returns a generic function pointer; the signature is WinDivert 2.2's own.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::unique_ptr<DivertApi> LoadDivertApi() {
    auto api = std::make_unique<DivertApi>();
    api->module.reset(LoadLibraryW(L"WinDivert.dll"));
    if (!api->module) {
        throw std::runtime_error("WinDivert.dll was not found in the runtime cache.");
    }
    HMODULE module = api->module.get();
    api->open = Resolve<DivertApi::OpenFn>(module, "WinDivertOpen");
    api->recv = Resolve<DivertApi::RecvFn>(module, "WinDivertRecv");
    api->send = Resolve<DivertApi::SendFn>(module, "WinDivertSend");
    api->calcChecksums = Resolve<DivertApi::CalcChecksumsFn>(module, "WinDivertHelperCalcChecksums");
    api->close = Resolve<DivertApi::CloseFn>(module, "WinDivertClose");
    api->shutdown = Resolve<DivertApi::ShutdownFn>(module, "WinDivertShutdown");
    if (!api->open || !api->recv || !api->send || !api->calcChecksums || !api->close) {
        throw std::runtime_error("WinDivert.dll is missing required exports.");
    }
    return api;
}

}  // namespace ostrevane
