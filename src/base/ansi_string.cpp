#include "base/ansi_string.h"

#include <climits>
#include <cstring>
#include <new>

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

AnsiString ToAnsi(const wchar_t* text, size_t length) {
    if (!text || length == 0) return AnsiString();
    if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
    const int wide = static_cast<int>(length);
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return AnsiString();
    AnsiString result;
    result.Allocate(static_cast<size_t>(needed));
    const int written =
        WideCharToMultiByte(CP_ACP, 0, text, wide, result.data(), needed, nullptr, nullptr);
    if (written <= 0) return AnsiString();
    result.Truncate(static_cast<size_t>(written));
    return result;
}

AnsiString ToAnsi(BSTR text) { return ToAnsi(text, text ? SysStringLen(text) : 0); }

BSTR ToBstr(const char* text) {
    if (!text) text = "";
    const size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
    const int narrow = static_cast<int>(length);
    const int needed = length ? MultiByteToWideChar(CP_ACP, 0, text, narrow, nullptr, 0) : 0;
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(needed > 0 ? needed : 0));
    if (!result) throw std::bad_alloc();
    if (needed > 0) MultiByteToWideChar(CP_ACP, 0, text, narrow, result, needed);
    return result;
}

bool CopyBounded(char* destination, size_t size, const char* source) noexcept {
    if (!destination || size == 0) return false;
    if (!source) source = "";
    size_t i = 0;
    for (; i + 1 < size && source[i] != '\0'; ++i) destination[i] = source[i];
    destination[i] = '\0';
    return source[i] == '\0';
}

}  // namespace korvane
