// The browser's plain rules: how an address maps to a page file, how a
// link's address is resolved against its document, and what a target name
// means. Strings are UTF-8; nothing here touches COM or windows.
#pragma once

#include <string>

namespace standin {

struct UrlParts {
    std::string scheme;    // lower case, without ':'
    std::string host;      // lower case, without port
    std::string path;      // begins with '/', or empty
    std::string query;     // with its '?', or empty
    std::string fragment;  // with its '#', or empty
};

// Splits "scheme://host/path?query#fragment"; false for anything else
// ("about:blank", "javascript:...", relative references).
bool SplitHierarchicalUrl(const std::string& url, UrlParts* parts);

// The scheme of an absolute URL in lower case, or "" for a relative one.
std::string UrlScheme(const std::string& url);
bool IsScriptUrl(const std::string& url);  // "javascript:" in any case

// Resolves a reference as written in href, src or action against the URL of
// its document. Surrounding white space is ignored, as the browser does.
std::string ResolveUrl(const std::string& base, const std::string& reference);

// The page file for an http or https URL: <site>\<host>\<path>, with
// "index.html" for a folder. Empty when the URL has no file in the site:
// another scheme, a ".." segment, a host or name that is not a plain file
// name, or a path too long for the file system.
std::string PageFileForUrl(const std::string& siteFolder, const std::string& url);

enum class TargetKind {
    Self,    // "" and "_self"
    Parent,  // "_parent"
    Top,     // "_top"
    Blank,   // "_blank": always a new window
    Named,   // anything else: an existing window or frame, or a new window of that name
};
// Keywords compare without regard to case; other names are kept as they are
// and compared exactly.
TargetKind ClassifyTarget(const std::string& target);

}  // namespace standin
