#include "tunnel/divert_api.h"

#include <stdexcept>

#include "platform/held_file.h"
#include "platform/path_text.h"
#include "platform/reparse_path.h"
#include "tunnel/divert_files.h"

namespace ostrevane {
namespace {

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    // GetProcAddress returns a generic function pointer; the signature is WinDivert 2.2's own.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::unique_ptr<DivertApi> LoadDivertApi() {
    const DivertFiles files = CurrentDivertFiles();
    auto api = std::make_unique<DivertApi>();
    const std::wstring library = JoinPath(files.directory, kDivertLibraryFileName);
    if (files.library.empty() || files.directory.empty()) {
        throw std::runtime_error("WinDivert.dll was not found in the runtime cache.");
    }
    api->cacheFolders = HoldFoldersWithoutLinks(library);
    if (api->cacheFolders.empty()) {
        throw std::runtime_error("WinDivert.dll was not found in the runtime cache.");
    }
    api->libraryFile = HoldFileWithContent(library, files.library);
    if (!api->libraryFile) {
        throw std::runtime_error("WinDivert.dll was not found in the runtime cache.");
    }
    // The library installs its driver service from the file beside itself.
    api->driverFile = files.driver.empty()
                          ? UniqueFileHandle()
                          : HoldFileWithContent(JoinPath(files.directory, kDivertDriverFileName), files.driver);
    if (!api->driverFile) {
        throw std::runtime_error("WinDivert64.sys was not found in the runtime cache.");
    }
    // By full path, its own imports from the system directory only.
    api->module.reset(LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
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
    api->recvEx = Resolve<DivertApi::RecvExFn>(module, "WinDivertRecvEx");
    if (!api->open || !api->recv || !api->send || !api->calcChecksums || !api->close) {
        throw std::runtime_error("WinDivert.dll is missing required exports.");
    }
    return api;
}

}  // namespace ostrevane
