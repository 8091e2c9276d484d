// Text conversions of the document stand-in. Pages are bytes in whatever
// code page their author used; like a browser on a system whose ANSI code
// page matches the page, the stand-in reads them in the ANSI code page, so
// a page's bytes come back unchanged from the narrow strings the product
// makes of the BSTRs it is given.
#pragma once

#include <cstddef>
#include <string>

namespace standin::detail {

// Appends page bytes as UTF-16. A NUL byte becomes U+FFFD, as browsers
// replace it, so no BSTR handed out is cut short by an embedded NUL.
void AppendAnsi(std::wstring& out, const char* bytes, size_t length);
std::wstring AnsiToWide(const std::string& bytes);
std::string WideToAnsi(const wchar_t* text, size_t length);
std::string WideToAnsi(const std::wstring& text);

// Appends page bytes with their character references decoded (&amp;,
// &#38;, &#x26;, the HTML 4 names). A reference without its ';' is decoded
// only for the names browsers accept that way, and inside an attribute
// value not when a letter, digit or '=' follows it ("?a=1&copy=2" stays).
void AppendDecoded(std::wstring& out, const char* bytes, size_t length, bool inAttribute);

void AppendCodePoint(std::wstring& out, unsigned long codePoint);

std::string LowerAscii(std::string text);
std::wstring UpperAscii(std::wstring text);
bool IsAsciiSpace(wchar_t c);
// Collapses runs of white space to one space and trims both ends.
std::wstring CollapseSpace(const std::wstring& text);

}  // namespace standin::detail
