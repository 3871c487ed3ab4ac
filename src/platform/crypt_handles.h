// Owners for certificate stores, certificates and certificate chains.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "platform/unique_handle.h"

namespace ostrevane {

struct CertStoreTraits {
    using Pointer = HCERTSTORE;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { CertCloseStore(h, 0); }
};

struct CertContextTraits {
    using Pointer = PCCERT_CONTEXT;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { CertFreeCertificateContext(h); }
};

struct CertChainTraits {
    using Pointer = PCCERT_CHAIN_CONTEXT;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { CertFreeCertificateChain(h); }
};

using UniqueCertStore = UniqueHandle<CertStoreTraits>;
using UniqueCertContext = UniqueHandle<CertContextTraits>;
using UniqueCertChain = UniqueHandle<CertChainTraits>;

}  // namespace ostrevane
