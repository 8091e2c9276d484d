// What the fuzz targets share: a check that turns a wrong answer into a
// finding, and the splitting of one input into several strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A wrong answer is a finding like a crash: libFuzzer keeps the input that
// gave it. The message names what differed.
#define FUZZ_CHECK(condition, ...)                                                  \
    do {                                                                            \
        if (!(condition)) {                                                         \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                         #condition);                                               \
            std::fprintf(stderr, __VA_ARGS__);                                      \
            std::fputc('\n', stderr);                                               \
            std::abort();                                                           \
        }                                                                           \
    } while (0)

namespace fuzz {

// The input cut at every NUL: each piece is one C string. An input without
// a NUL is one piece.
inline std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(static_cast<char>(data[i]));
        }
    }
    return pieces;
}

// A printable form of a string for a failure message (at most 200 bytes).
inline std::string Show(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size() && i < 200; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    if (text.size() > 200) out += "...";
    return out + "\"";
}

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string Lowered(std::string text) {
    for (char& c : text) c = LowerAscii(c);
    return text;
}

inline std::string Uppered(std::string text) {
    for (char& c : text) c = UpperAscii(c);
    return text;
}

}  // namespace fuzz
