// The handful of Win32 names that the handle owners and the packet code name, for native Linux
// builds of the pure readers: the same names, sizes and layout as on Windows, nothing more.
// Native builds open no handle of any kind, so the release calls never run; they are here so
// that the owners compile the same on both platforms. Windows builds never include this file.
#pragma once

#ifdef _WIN32
#error "win32_types_native.h is for builds without <windows.h>; include win32_types.h"
#endif

#include <cstdint>

using HANDLE = void*;
using BOOL = int;
using UINT = unsigned int;
using VOID = void;
using INT16 = std::int16_t;
using UINT8 = std::uint8_t;
using UINT32 = std::uint32_t;
using INT64 = std::int64_t;
using UINT64 = std::uint64_t;

struct HKEY__;
struct HINSTANCE__;
struct HFONT__;
struct HBRUSH__;
struct HPEN__;
using HKEY = HKEY__*;
using HMODULE = HINSTANCE__*;
using HFONT = HFONT__*;
using HBRUSH = HBRUSH__*;
using HPEN = HPEN__*;
using HGDIOBJ = void*;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

inline BOOL CloseHandle(HANDLE) noexcept { return FALSE; }
inline BOOL FindClose(HANDLE) noexcept { return FALSE; }
inline long RegCloseKey(HKEY) noexcept { return 0; }
inline BOOL FreeLibrary(HMODULE) noexcept { return FALSE; }
inline BOOL DeleteObject(HGDIOBJ) noexcept { return FALSE; }
