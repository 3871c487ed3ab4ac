// Prints what Windows reads from an executable: the header checksum next to the one the system
// computes, then the version resource through the calls that Explorer's Details tab uses (the
// fixed numbers, then the strings of the first listed translation).
#include <windows.h>

#include <imagehlp.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void PrintLine(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr,
                        nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::wstring DottedVersion(DWORD high, DWORD low) {
    return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." +
           std::to_wstring(HIWORD(low)) + L"." + std::to_wstring(LOWORD(low));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: image_info <file>\n", stderr);
        return 2;
    }
    DWORD headerSum = 0;
    DWORD computedSum = 0;
    if (MapFileAndCheckSumW(argv[1], &headerSum, &computedSum) != CHECKSUM_SUCCESS) {
        std::fputs("image_info: the file cannot be read as an image\n", stderr);
        return 1;
    }
    PrintLine(L"HeaderCheckSum=" + std::to_wstring(headerSum));
    PrintLine(L"ComputedCheckSum=" + std::to_wstring(computedSum));
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, block.data())) {
        std::fprintf(stderr, "image_info: no version resource (error %lu)\n", GetLastError());
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed ||
        fixed->dwSignature != VS_FFI_SIGNATURE) {
        std::fputs("image_info: no fixed file information\n", stderr);
        return 1;
    }
    PrintLine(L"FixedFileVersion=" + DottedVersion(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    PrintLine(L"FixedProductVersion=" + DottedVersion(fixed->dwProductVersionMS, fixed->dwProductVersionLS));

    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < sizeof *translation) {
        std::fputs("image_info: no translation listed\n", stderr);
        return 1;
    }
    wchar_t prefix[64];
    swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
    for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName", L"LegalCopyright",
                               L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        wchar_t* value = nullptr;
        if (VerQueryValueW(block.data(), (std::wstring(prefix) + key).c_str(), reinterpret_cast<void**>(&value),
                           &length) &&
            length > 0) {
            PrintLine(std::wstring(key) + L"=" + value);
        }
    }
    return 0;
}
