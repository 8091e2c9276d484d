#include "browser/navigation_rules.h"

#include <cctype>
#include <vector>

#include "browser/text_conversion.h"

namespace standin {

namespace {

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    return text.substr(begin, end - begin);
}

bool IsSchemeChar(char c, bool first) {
    if (std::isalpha(static_cast<unsigned char>(c))) return true;
    return !first && (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.');
}

// Removes "." and ".." segments from an absolute path.
std::string NormalisePath(const std::string& path) {
    std::vector<std::string> segments;
    bool folder = false;
    size_t start = 1;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        const std::string segment = path.substr(start, slash - start);
        const bool last = slash == path.size();
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
            folder = last;
        } else if (segment == ".") {
            folder = last;
        } else if (!segment.empty()) {
            segments.push_back(segment);
            folder = false;
        } else {
            folder = last;
        }
        start = slash + 1;
    }
    std::string result;
    for (const std::string& segment : segments) result += "/" + segment;
    if (result.empty() || folder) result += "/";
    return result;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                result += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

// A name that is safe as one file or folder name of the site.
bool IsPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
            c == '<' || c == '>' || c == '|')
            return false;
    }
    return true;
}

}  // namespace

std::string UrlScheme(const std::string& url) {
    const std::string text = Trim(url);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ':') return i > 0 ? AsciiLower(text.substr(0, i)) : std::string();
        if (!IsSchemeChar(text[i], i == 0)) return std::string();
    }
    return std::string();
}

bool IsScriptUrl(const std::string& url) { return UrlScheme(url) == "javascript"; }

bool SplitHierarchicalUrl(const std::string& url, UrlParts* parts) {
    const std::string scheme = UrlScheme(url);
    if (scheme.empty()) return false;
    const std::string text = Trim(url);
    const size_t afterScheme = scheme.size() + 1;
    if (text.compare(afterScheme, 2, "//") != 0) return false;
    UrlParts result;
    result.scheme = scheme;
    size_t hostEnd = text.find_first_of("/?#", afterScheme + 2);
    if (hostEnd == std::string::npos) hostEnd = text.size();
    std::string authority = text.substr(afterScheme + 2, hostEnd - afterScheme - 2);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    const size_t colon = authority.find(':');
    if (colon != std::string::npos) authority = authority.substr(0, colon);
    result.host = AsciiLower(authority);
    std::string rest = text.substr(hostEnd);
    const size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        result.fragment = rest.substr(hash);
        rest = rest.substr(0, hash);
    }
    const size_t question = rest.find('?');
    if (question != std::string::npos) {
        result.query = rest.substr(question);
        rest = rest.substr(0, question);
    }
    result.path = rest;
    *parts = result;
    return true;
}

std::string ResolveUrl(const std::string& base, const std::string& reference) {
    const std::string ref = Trim(reference);
    if (!UrlScheme(ref).empty()) return ref;
    UrlParts parts;
    if (!SplitHierarchicalUrl(base, &parts)) return ref;  // nothing to resolve against
    const std::string origin = parts.scheme + "://" + parts.host;
    const std::string basePath = parts.path.empty() ? "/" : parts.path;
    if (ref.empty()) return origin + basePath + parts.query;
    if (ref.compare(0, 2, "//") == 0) return parts.scheme + ":" + ref;
    if (ref[0] == '#') return origin + basePath + parts.query + ref;
    if (ref[0] == '?') return origin + basePath + ref;
    // Keep the reference's own query and fragment out of the path rules.
    std::string path = ref;
    std::string tail;
    const size_t tailStart = path.find_first_of("?#");
    if (tailStart != std::string::npos) {
        tail = path.substr(tailStart);
        path = path.substr(0, tailStart);
    }
    if (path.empty()) return origin + basePath + tail;
    if (path[0] != '/') path = basePath.substr(0, basePath.rfind('/') + 1) + path;
    return origin + NormalisePath(path) + tail;
}

std::string PageFileForUrl(const std::string& siteFolder, const std::string& url) {
    UrlParts parts;
    if (!SplitHierarchicalUrl(url, &parts)) return std::string();
    if (parts.scheme != "http" && parts.scheme != "https") return std::string();
    if (!IsPlainName(parts.host)) return std::string();
    std::string file = siteFolder;
    if (!file.empty() && file.back() != '\\' && file.back() != '/') file += '\\';
    file += parts.host;
    std::string path = parts.path.empty() ? "/" : parts.path;
    if (path.back() == '/') path += "index.html";
    size_t start = 1;
    while (start < path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        const std::string segment = PercentDecode(path.substr(start, slash - start));
        start = slash + 1;
        if (segment.empty()) continue;
        if (!IsPlainName(segment)) return std::string();
        file += "\\" + segment;
    }
    // The file system's own limit: a longer name could only fail later.
    if (file.size() >= 32000) return std::string();
    return file;
}

TargetKind ClassifyTarget(const std::string& target) {
    const std::string lower = AsciiLower(target);
    if (target.empty() || lower == "_self") return TargetKind::Self;
    if (lower == "_parent") return TargetKind::Parent;
    if (lower == "_top") return TargetKind::Top;
    if (lower == "_blank") return TargetKind::Blank;
    return TargetKind::Named;
}

}  // namespace standin
