#include "url.h"

#include <vector>

namespace standin::detail {
namespace {

struct Parts {
    std::wstring scheme;  // lower case, without ':'
    bool hasAuthority = false;
    std::wstring authority;
    std::wstring path;
    bool hasQuery = false;
    std::wstring query;  // without '?'
    bool hasFragment = false;
    std::wstring fragment;  // without '#'
};

bool IsAlpha(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

std::wstring LowerAscii(std::wstring text) {
    for (wchar_t& c : text) c = Lower(c);
    return text;
}

bool IsSpecial(const std::wstring& scheme) {
    return scheme == L"http" || scheme == L"https" || scheme == L"ftp" || scheme == L"file";
}

std::wstring Clean(std::wstring_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && text[begin] <= L' ') ++begin;
    while (end > begin && text[end - 1] <= L' ') --end;
    std::wstring out;
    out.reserve(end - begin);
    for (size_t i = begin; i < end; ++i)
        if (text[i] != L'\t' && text[i] != L'\r' && text[i] != L'\n') out.push_back(text[i]);
    return out;
}

// Length of the scheme at the start of text (without ':'), 0 if none.
size_t SchemeLength(const std::wstring& text) {
    if (text.empty() || !IsAlpha(text[0])) return 0;
    for (size_t i = 1; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L':') return i;
        if (!IsAlpha(c) && !IsDigit(c) && c != L'+' && c != L'-' && c != L'.') return 0;
    }
    return 0;
}

// Splits what follows "scheme:" into authority, path, query and fragment.
void SplitRest(const std::wstring& rest, bool special, Parts& parts) {
    std::wstring text = rest;
    size_t hash = text.find(L'#');
    if (hash != std::wstring::npos) {
        parts.hasFragment = true;
        parts.fragment = text.substr(hash + 1);
        text.erase(hash);
    }
    size_t question = text.find(L'?');
    if (question != std::wstring::npos) {
        parts.hasQuery = true;
        parts.query = text.substr(question + 1);
        text.erase(question);
    }
    if (special)
        for (wchar_t& c : text)
            if (c == L'\\') c = L'/';
    if (text.size() >= 2 && text[0] == L'/' && text[1] == L'/') {
        parts.hasAuthority = true;
        size_t slash = text.find(L'/', 2);
        if (slash == std::wstring::npos) slash = text.size();
        parts.authority = text.substr(2, slash - 2);
        parts.path = text.substr(slash);
        return;
    }
    parts.path = text;
}

std::wstring RemoveDotSegments(const std::wstring& path) {
    std::vector<std::wstring> segments;
    const bool absolute = !path.empty() && path[0] == L'/';
    size_t i = absolute ? 1 : 0;
    bool trailingSlash = false;
    while (i <= path.size()) {
        size_t slash = path.find(L'/', i);
        if (slash == std::wstring::npos) slash = path.size();
        std::wstring segment = path.substr(i, slash - i);
        const bool last = slash == path.size();
        if (segment == L".") {
            trailingSlash = last;
        } else if (segment == L"..") {
            if (!segments.empty()) segments.pop_back();
            trailingSlash = last;
        } else {
            segments.push_back(segment);
            trailingSlash = false;
        }
        i = slash + 1;
    }
    std::wstring out = absolute ? L"/" : L"";
    for (size_t k = 0; k < segments.size(); ++k) {
        if (k) out += L'/';
        out += segments[k];
    }
    if (trailingSlash && !out.empty() && out.back() != L'/') out += L'/';
    return out;
}

std::wstring LowerHost(const std::wstring& authority) {
    size_t at = authority.rfind(L'@');
    size_t hostStart = at == std::wstring::npos ? 0 : at + 1;
    return authority.substr(0, hostStart) + LowerAscii(authority.substr(hostStart));
}

std::wstring Compose(const Parts& parts) {
    std::wstring out = parts.scheme + L":";
    const bool special = IsSpecial(parts.scheme);
    if (parts.hasAuthority) out += L"//" + (special ? LowerHost(parts.authority) : parts.authority);
    std::wstring path = parts.path;
    if (special || (!path.empty() && path[0] == L'/')) path = RemoveDotSegments(path);
    if (special && parts.hasAuthority && path.empty()) path = L"/";
    out += path;
    if (parts.hasQuery) out += L"?" + parts.query;
    if (parts.hasFragment) out += L"#" + parts.fragment;
    return out;
}

bool Parse(const std::wstring& text, Parts& parts) {
    const size_t length = SchemeLength(text);
    if (length == 0) return false;
    parts = Parts();
    parts.scheme = LowerAscii(text.substr(0, length));
    SplitRest(text.substr(length + 1), IsSpecial(parts.scheme), parts);
    return true;
}

}  // namespace

std::wstring ResolveUrl(const std::wstring& base, std::wstring_view reference) {
    std::wstring ref = Clean(reference);

    // "C:\dir\page.htm" and "C:/dir/page.htm" name a file, not a scheme "c".
    if (ref.size() >= 3 && IsAlpha(ref[0]) && ref[1] == L':' && (ref[2] == L'\\' || ref[2] == L'/')) {
        std::wstring path = ref;
        for (wchar_t& c : path)
            if (c == L'\\') c = L'/';
        ref = L"file:///" + path;
    }

    Parts baseParts;
    const bool baseParsed = Parse(Clean(base), baseParts);
    const size_t schemeLength = SchemeLength(ref);
    if (schemeLength) {
        const std::wstring scheme = LowerAscii(ref.substr(0, schemeLength));
        const std::wstring rest = ref.substr(schemeLength + 1);
        // "http:page.htm" on an http page is relative, as browsers read it.
        const bool relativeSameScheme = baseParsed && IsSpecial(scheme) &&
                                        scheme == baseParts.scheme && scheme != L"file" &&
                                        (rest.empty() || (rest[0] != L'/' && rest[0] != L'\\'));
        if (!relativeSameScheme) {
            Parts parts;
            Parse(ref, parts);
            return Compose(parts);
        }
        ref = rest;
    }
    if (!baseParsed) return ref;

    const bool special = IsSpecial(baseParts.scheme);
    const bool hierarchical =
        baseParts.hasAuthority || (!baseParts.path.empty() && baseParts.path[0] == L'/');
    if (!hierarchical) {
        if (!ref.empty() && ref[0] == L'#') {
            Parts parts = baseParts;
            parts.hasFragment = true;
            parts.fragment = ref.substr(1);
            return Compose(parts);
        }
        return ref;
    }

    Parts refParts;
    SplitRest(ref, special, refParts);
    Parts result;
    result.scheme = baseParts.scheme;
    result.hasFragment = refParts.hasFragment;
    result.fragment = refParts.fragment;

    if (refParts.hasAuthority) {
        result.hasAuthority = true;
        result.authority = refParts.authority;
        result.path = refParts.path;
        result.hasQuery = refParts.hasQuery;
        result.query = refParts.query;
        return Compose(result);
    }

    result.hasAuthority = baseParts.hasAuthority;
    result.authority = baseParts.authority;
    if (refParts.path.empty()) {
        result.path = baseParts.path;
        result.hasQuery = refParts.hasQuery || baseParts.hasQuery;
        result.query = refParts.hasQuery ? refParts.query : baseParts.query;
        return Compose(result);
    }
    result.hasQuery = refParts.hasQuery;
    result.query = refParts.query;
    if (refParts.path[0] == L'/') {
        result.path = refParts.path;
        return Compose(result);
    }
    std::wstring directory;
    if (baseParts.hasAuthority && baseParts.path.empty()) {
        directory = L"/";
    } else {
        const size_t slash = baseParts.path.rfind(L'/');
        directory = slash == std::wstring::npos ? L"" : baseParts.path.substr(0, slash + 1);
    }
    result.path = directory + refParts.path;
    return Compose(result);
}

}  // namespace standin::detail
