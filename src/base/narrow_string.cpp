#include "base/narrow_string.h"

#include <cstring>

namespace korvane {

void AnsiString::Assign(const char* text, size_t length) {
    std::unique_ptr<char[]> copy(new char[length + 1]);
    if (length) std::memcpy(copy.get(), text, length);
    copy[length] = '\0';
    data_ = std::move(copy);
    length_ = length;
}

void AnsiString::Allocate(size_t length) {
    std::unique_ptr<char[]> buffer(new char[length + 1]());
    data_ = std::move(buffer);
    length_ = length;
}

AnsiString Concatenate(std::initializer_list<TextPiece> pieces) {
    size_t total = 0;
    for (const TextPiece& piece : pieces) total += piece.length;
    AnsiString text;
    text.Allocate(total);
    char* out = text.data();
    for (const TextPiece& piece : pieces) {
        if (piece.length) std::memcpy(out, piece.data, piece.length);
        out += piece.length;
    }
    return text;
}

void AnsiString::Truncate(size_t length) noexcept {
    if (!data_ || length >= length_) return;
    data_[length] = '\0';
    length_ = length;
}

bool CopyBounded(char* destination, size_t size, const char* source) noexcept {
    if (!destination || size == 0) return false;
    if (!source) source = "";
    size_t i = 0;
    for (; i + 1 < size && source[i] != '\0'; ++i) destination[i] = source[i];
    destination[i] = '\0';
    return source[i] == '\0';
}

std::uint64_t TextKey(const char* text, size_t length, std::uint64_t seed) noexcept {
    std::uint64_t key = seed;
    for (size_t i = 0; i < length; ++i) key = (key ^ static_cast<unsigned char>(text[i])) * 1099511628211ull;
    return key;
}

}  // namespace korvane
