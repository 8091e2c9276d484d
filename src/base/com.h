// Owners for the COM value types that cross the browser's interfaces: BSTR
// and VARIANT. Interface pointers use Microsoft::WRL::ComPtr.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

namespace korvane {

// Note: mingw's ComPtr::Attach adds a reference, unlike WRL's. To take over
// a reference an out-parameter already carries, write through
// GetAddressOf() of an empty ComPtr instead.
using Microsoft::WRL::ComPtr;

// Owns a BSTR allocated with SysAllocString and frees it with SysFreeString.
class UniqueBstr {
public:
    UniqueBstr() noexcept = default;
    // Takes ownership of an existing BSTR (which may be null).
    explicit UniqueBstr(BSTR value) noexcept : value_(value) {}
    ~UniqueBstr() { reset(); }

    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&& other) noexcept : value_(other.release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    BSTR get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != nullptr; }
    UINT Length() const noexcept { return SysStringLen(value_); }

    BSTR release() noexcept {
        BSTR value = value_;
        value_ = nullptr;
        return value;
    }
    void reset(BSTR value = nullptr) noexcept {
        BSTR old = value_;
        value_ = value;
        if (old) SysFreeString(old);
    }
    // For out-parameters such as get_href(&bstr). A callee that fails is
    // expected to leave the slot null; it is cleared here first so a stale
    // string can never be mistaken for a result.
    BSTR* put() noexcept {
        reset();
        return &value_;
    }

private:
    BSTR value_ = nullptr;
};

// Owns a VARIANT and clears it with VariantClear.
class UniqueVariant {
public:
    UniqueVariant() noexcept { VariantInit(&value_); }
    ~UniqueVariant() { VariantClear(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    const VARIANT& get() const noexcept { return value_; }
    VARIANT* ptr() noexcept { return &value_; }
    // Clears what is held and hands out the slot for an out-parameter.
    VARIANT* put() noexcept {
        VariantClear(&value_);
        return &value_;
    }

private:
    VARIANT value_;
};

}  // namespace korvane
