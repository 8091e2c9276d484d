// Move-only owners for Win32 handles and other resources that are released by
// a single function call. One alias per kind of resource, so the type says
// how the value is given back.
#pragma once

#include <windows.h>

#include <utility>

namespace korvane {

// Owns a value of type T and releases it with Close when it goes out of scope
// or is replaced. Invalid() is the value that means "nothing owned".
template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    // Gives up ownership without closing; the caller now owns the value.
    T release() noexcept {
        T value = value_;
        value_ = Traits::Invalid();
        return value;
    }

    void reset(T value = Traits::Invalid()) noexcept {
        T old = value_;
        value_ = value;
        if (old != Traits::Invalid()) Traits::Close(old);
    }

    // For out-parameters: closes what is held and hands out the slot.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_ = Traits::Invalid();
};

namespace traits {
struct Hkey {
    static HKEY Invalid() noexcept { return nullptr; }
    static void Close(HKEY key) noexcept { RegCloseKey(key); }
};
struct Handle {
    static HANDLE Invalid() noexcept { return nullptr; }
    static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};
struct FileHandle {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};
struct FindHandle {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE search) noexcept { FindClose(search); }
};
struct Hmenu {
    static HMENU Invalid() noexcept { return nullptr; }
    static void Close(HMENU menu) noexcept { DestroyMenu(menu); }
};
struct Hwnd {
    static HWND Invalid() noexcept { return nullptr; }
    static void Close(HWND window) noexcept { DestroyWindow(window); }
};
struct Hhook {
    static HHOOK Invalid() noexcept { return nullptr; }
    static void Close(HHOOK hook) noexcept { UnhookWindowsHookEx(hook); }
};
struct Hmodule {
    static HMODULE Invalid() noexcept { return nullptr; }
    static void Close(HMODULE module) noexcept { FreeLibrary(module); }
};
struct MappedView {
    static void* Invalid() noexcept { return nullptr; }
    static void Close(void* view) noexcept { UnmapViewOfFile(view); }
};
struct LocalMemory {
    static HLOCAL Invalid() noexcept { return nullptr; }
    static void Close(HLOCAL memory) noexcept { LocalFree(memory); }
};
}  // namespace traits

using UniqueHkey = UniqueResource<HKEY, traits::Hkey>;
using UniqueHandle = UniqueResource<HANDLE, traits::Handle>;
using UniqueFile = UniqueResource<HANDLE, traits::FileHandle>;
using UniqueFind = UniqueResource<HANDLE, traits::FindHandle>;
using UniqueHmenu = UniqueResource<HMENU, traits::Hmenu>;
using UniqueHwnd = UniqueResource<HWND, traits::Hwnd>;
using UniqueHhook = UniqueResource<HHOOK, traits::Hhook>;
using UniqueHmodule = UniqueResource<HMODULE, traits::Hmodule>;
using UniqueView = UniqueResource<void*, traits::MappedView>;
using UniqueLocal = UniqueResource<HLOCAL, traits::LocalMemory>;

// Runs a callable when the scope ends, for one-off clean-up that has no
// resource type of its own.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ~ScopeExit() {
        if (armed_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void dismiss() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

}  // namespace korvane
