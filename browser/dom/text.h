// Text conversions of the document stand-in. Pages are bytes in whatever
// code page their author used; like a browser on a system whose ANSI code
// page matches the page, the stand-in reads them in the ANSI code page, so
// a page's bytes come back unchanged from the narrow strings the product
// makes of the BSTRs it is given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace standin::detail {

// The appending functions write into a std::wstring or into a document's
// own std::pmr::wstring.

// Appends page bytes as UTF-16. A NUL byte becomes U+FFFD, as browsers
// replace it, so no BSTR handed out is cut short by an embedded NUL.
template <typename WideString>
void AppendAnsi(WideString& out, const char* bytes, size_t length);
std::wstring AnsiToWide(const std::string& bytes);
std::string WideToAnsi(const wchar_t* text, size_t length);
std::string WideToAnsi(std::wstring_view text);

// Appends page bytes with their character references decoded (&amp;,
// &#38;, &#x26;, the HTML 4 names). A reference without its ';' is decoded
// only for the names browsers accept that way, and inside an attribute
// value not when a letter, digit or '=' follows it ("?a=1&copy=2" stays).
template <typename WideString>
void AppendDecoded(WideString& out, const char* bytes, size_t length, bool inAttribute);

template <typename WideString>
void AppendCodePoint(WideString& out, unsigned long codePoint);

std::string LowerAscii(std::string text);
std::wstring UpperAscii(std::wstring_view text);
bool IsAsciiSpace(wchar_t c);
// Collapses runs of white space to one space and trims both ends.
std::wstring CollapseSpace(std::wstring_view text);

}  // namespace standin::detail
