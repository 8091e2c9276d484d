// Narrow (ANSI code page) strings owned on the heap. Free of Windows headers,
// so the plain rules that use them also build natively (tests/native).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace korvane {

// An owned, NUL-terminated narrow string. Allocation failure throws
// std::bad_alloc: callers on a COM or Win32 boundary catch it there.
class AnsiString {
public:
    AnsiString() noexcept = default;
    explicit AnsiString(const char* text) { Assign(text, text ? std::strlen(text) : 0); }
    AnsiString(const char* text, size_t length) { Assign(text, length); }

    AnsiString(AnsiString&&) noexcept = default;
    AnsiString& operator=(AnsiString&&) noexcept = default;
    AnsiString(const AnsiString& other) { Assign(other.c_str(), other.length_); }
    AnsiString& operator=(const AnsiString& other) {
        if (this != &other) Assign(other.c_str(), other.length_);
        return *this;
    }

    // Never null: an empty string reads as "".
    const char* c_str() const noexcept { return data_ ? data_.get() : ""; }
    char* data() noexcept { return data_.get(); }
    size_t length() const noexcept { return length_; }
    bool empty() const noexcept { return length_ == 0; }

    void Assign(const char* text, size_t length);
    // Makes room for length bytes plus the terminator, all zero, for a caller
    // that fills data() itself; Truncate then records how much it wrote.
    void Allocate(size_t length);
    void Truncate(size_t length) noexcept;

private:
    std::unique_ptr<char[]> data_;
    size_t length_ = 0;
};

// A piece of text for Concatenate: a C string, an AnsiString, or the first
// length bytes of a text. Refers to the text; it must outlive the call.
struct TextPiece {
    TextPiece(const char* text) noexcept : data(text ? text : ""), length(std::strlen(data)) {}
    TextPiece(const AnsiString& text) noexcept : data(text.c_str()), length(text.length()) {}
    TextPiece(const char* text, size_t size) noexcept : data(text), length(size) {}
    const char* data;
    size_t length;
};

// The pieces one after another. Throws std::bad_alloc like any copy.
AnsiString Concatenate(std::initializer_list<TextPiece> pieces);

// Copies at most size-1 bytes of source and always terminates the copy.
// Returns false when the source did not fit whole.
bool CopyBounded(char* destination, size_t size, const char* source) noexcept;

// A 64-bit key of length bytes of text (FNV-1a), begun from seed: what is
// kept of an address that only has to be recognised later. Not a secret:
// a page can choose texts whose keys collide.
std::uint64_t TextKey(const char* text, size_t length, std::uint64_t seed) noexcept;
constexpr std::uint64_t kTextKeySeed = 14695981039346656037ull;

}  // namespace korvane
