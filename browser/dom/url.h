// Address resolution as the browser does it for href, src and action
// values: a relative reference against the document's base address.
#pragma once

#include <string>
#include <string_view>

namespace standin::detail {

// Resolves reference against base. Spaces, tabs and line breaks around the
// reference and line breaks inside it are dropped; for http, https, ftp and
// file addresses backslashes count as slashes, scheme and host are lower
// case, "." and ".." segments are removed and an empty path becomes "/".
// "C:\dir\page.htm" becomes a file address. A reference that cannot be
// resolved (base "about:blank", a base without scheme) comes back as given.
std::wstring ResolveUrl(const std::wstring& base, std::wstring_view reference);

}  // namespace standin::detail
