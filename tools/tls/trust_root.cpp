// Adds a CA certificate to the machine's trusted root store, removes it again, or tells whether it
// is there. For tests only: they trust a throw-away CA in their own Wine prefix. The machine store
// (not the user's) because adding to the user's root store asks the user in a dialog on Windows.
//
//   trust-root add|remove|has CA_FILE      (PEM or DER)
//
// Exit code 0: done (has: present), 1: failed (has: absent), 2: usage. One line on stdout or
// stderr says what happened, with the certificate's SHA-1 thumbprint.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/crypt_handles.h"

namespace ostrevane {
namespace {

std::vector<BYTE> ReadFileBytes(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<BYTE> bytes;
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > (1 << 20)) {
        return bytes;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        read = 0;
    }
    bytes.resize(read);
    return bytes;
}

// The DER form of the first certificate of a PEM file; DER input is returned as it is.
std::vector<BYTE> CertificateDer(const std::vector<BYTE>& file) {
    const std::string text(file.begin(), file.end());
    if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
        return file;
    }
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr)) {
        return {};
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr)) {
        return {};
    }
    der.resize(size);
    return der;
}

std::wstring Thumbprint(PCCERT_CONTEXT cert) {
    BYTE hash[20];
    DWORD size = sizeof(hash);
    if (!CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
        return L"?";
    }
    std::wstring text;
    wchar_t digits[3];
    for (DWORD i = 0; i < size; ++i) {
        swprintf(digits, 3, L"%02X", hash[i]);
        text += digits;
    }
    return text;
}

int Fail(const wchar_t* what, const std::wstring& detail) {
    fwprintf(stderr, L"trust-root: %ls %ls (error %lu)\n", what, detail.c_str(), GetLastError());
    return 1;
}

int Run(const std::wstring& action, const std::wstring& path) {
    const std::vector<BYTE> der = CertificateDer(ReadFileBytes(path));
    UniqueCertContext cert(
        der.empty() ? nullptr
                    : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    if (!cert) {
        return Fail(L"no certificate in", path);
    }
    UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, L"ROOT"));
    if (!store) {
        return Fail(L"cannot open the machine root store for", path);
    }
    const std::wstring thumbprint = Thumbprint(cert.get());
    UniqueCertContext found(
        CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert.get(), nullptr));
    if (action == L"has") {
        wprintf(L"%ls %ls\n", found ? L"trusted" : L"not trusted", thumbprint.c_str());
        return found ? 0 : 1;
    }
    if (action == L"add") {
        if (!CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            return Fail(L"cannot add", thumbprint);
        }
        wprintf(L"added %ls\n", thumbprint.c_str());
        return 0;
    }
    if (found) {
        // The delete frees the context it is given, also when it fails.
        if (!CertDeleteCertificateFromStore(found.release())) {
            return Fail(L"cannot remove", thumbprint);
        }
        // Wine writes a deletion to the registry only when the store is flushed, and its root
        // store stays open in the process after our close: commit explicitly.
        if (!CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
            return Fail(L"cannot commit the removal of", thumbprint);
        }
    }
    wprintf(L"removed %ls\n", thumbprint.c_str());
    return 0;
}

}  // namespace
}  // namespace ostrevane

int wmain(int argc, wchar_t** argv) {
    const std::wstring action = argc == 3 ? argv[1] : L"";
    if (action != L"add" && action != L"remove" && action != L"has") {
        fwprintf(stderr, L"usage: trust-root add|remove|has CA_FILE\n");
        return 2;
    }
    return ostrevane::Run(action, argv[2]);
}
