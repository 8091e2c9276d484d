// Conversions between the UTF-8 text of session files and timelines and the
// UTF-16 strings that cross the browser's COM interfaces.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace standin {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
std::string Narrow(const wchar_t* wide, size_t length);
// A BSTR (null allowed) as UTF-8; the whole length, embedded NULs included.
std::string NarrowBstr(BSTR text);

// Upper-case hexadecimal HRESULT, e.g. "0x80004001".
std::string HresultText(HRESULT hr);
std::string GuidText(const GUID& guid);
bool ParseGuid(const std::string& text, GUID* guid);

// ASCII-only case folding: URL schemes, hosts and target keywords.
std::string AsciiLower(std::string text);
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);

}  // namespace standin
