// Move-only owners for Win32 handles: one template driven by a traits type that names the
// "none" value and the close call, and one alias per handle kind.
#pragma once

#include "platform/win32_types.h"

#include <utility>

namespace ostrevane {

template <typename Traits>
class UniqueHandle {
public:
    using Pointer = typename Traits::Pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Pointer value) noexcept : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    void reset(Pointer value = Traits::Invalid()) noexcept {
        Pointer old = std::exchange(value_, value);
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }

    Pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    // For out-parameters of creating calls: closes what is held first.
    Pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    Pointer value_ = Traits::Invalid();
};

struct KernelHandleTraits {  // threads, processes, events: null means none
    using Pointer = HANDLE;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { CloseHandle(h); }
};

struct FileHandleTraits {  // CreateFileW and friends: INVALID_HANDLE_VALUE means none
    using Pointer = HANDLE;
    static Pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Pointer h) noexcept { CloseHandle(h); }
};

struct FindHandleTraits {
    using Pointer = HANDLE;
    static Pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Pointer h) noexcept { FindClose(h); }
};

struct RegistryKeyTraits {
    using Pointer = HKEY;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { RegCloseKey(h); }
};

struct ModuleTraits {
    using Pointer = HMODULE;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { FreeLibrary(h); }
};

template <typename Gdi>
struct GdiObjectTraits {  // fonts, brushes, pens
    using Pointer = Gdi;
    static Pointer Invalid() noexcept { return nullptr; }
    static void Close(Pointer h) noexcept { DeleteObject(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;

// Runs a clean-up on scope exit unless dismissed; for one-off failure paths.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (active_) {
            f_();
        }
    }
    void Dismiss() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

}  // namespace ostrevane
