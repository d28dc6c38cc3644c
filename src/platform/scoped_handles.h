// Scoped handles, one line per kind: each names its close function and its invalid
// value, and closes on every way out. out() releases what is held and hands the slot to
// a function that fills it.
#pragma once

#include "platform/win32.h"

template <typename Handle, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Handle get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::invalid(); }
    void reset(Handle h = Traits::invalid()) {
        if (h_ != Traits::invalid()) Traits::close(h_);
        h_ = h;
    }
    Handle* out() {
        reset();
        return &h_;
    }
    // Hands the handle over without closing it.
    Handle release() {
        Handle h = h_;
        h_ = Traits::invalid();
        return h;
    }

private:
    Handle h_ = Traits::invalid();
};

struct MsiHandleTraits {
    static MSIHANDLE invalid() { return 0; }
    static void close(MSIHANDLE h) { MsiCloseHandle(h); }
};
struct RegistryKeyTraits {
    static HKEY invalid() { return nullptr; }
    static void close(HKEY h) { RegCloseKey(h); }
};
struct FileHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct KernelHandleTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};

// Blocks the system hands out to be given back with LocalFree (SID strings, descriptors).
template <typename Pointer>
struct LocalMemoryTraits {
    static Pointer invalid() { return nullptr; }
    static void close(Pointer p) { LocalFree(p); }
};

struct FindHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};

using unique_msihandle = UniqueHandle<MSIHANDLE, MsiHandleTraits>;
using unique_hkey = UniqueHandle<HKEY, RegistryKeyTraits>;
using unique_hfile = UniqueHandle<HANDLE, FileHandleTraits>;
using unique_handle = UniqueHandle<HANDLE, KernelHandleTraits>;
using unique_hfind = UniqueHandle<HANDLE, FindHandleTraits>;
template <typename Pointer>
using unique_local = UniqueHandle<Pointer, LocalMemoryTraits<Pointer>>;
