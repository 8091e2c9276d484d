#include "text.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <memory_resource>
#include <unordered_map>

namespace standin::detail {
namespace {

// Latin-1 names, code points 160 to 255. Browsers also accept these without
// the closing ';' (pages of the 1990s often left it out).
const char* const kLatin1Names[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
    "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
    "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

struct NamedEntity {
    const char* name;
    unsigned short codePoint;
};

// The rest of HTML 4's names, which need their ';'.
const NamedEntity kOtherNames[] = {
    {"apos", 39},       {"OElig", 338},     {"oelig", 339},     {"Scaron", 352},
    {"scaron", 353},    {"Yuml", 376},      {"fnof", 402},      {"circ", 710},
    {"tilde", 732},     {"Alpha", 913},     {"Beta", 914},      {"Gamma", 915},
    {"Delta", 916},     {"Epsilon", 917},   {"Zeta", 918},      {"Eta", 919},
    {"Theta", 920},     {"Iota", 921},      {"Kappa", 922},     {"Lambda", 923},
    {"Mu", 924},        {"Nu", 925},        {"Xi", 926},        {"Omicron", 927},
    {"Pi", 928},        {"Rho", 929},       {"Sigma", 931},     {"Tau", 932},
    {"Upsilon", 933},   {"Phi", 934},       {"Chi", 935},       {"Psi", 936},
    {"Omega", 937},     {"alpha", 945},     {"beta", 946},      {"gamma", 947},
    {"delta", 948},     {"epsilon", 949},   {"zeta", 950},      {"eta", 951},
    {"theta", 952},     {"iota", 953},      {"kappa", 954},     {"lambda", 955},
    {"mu", 956},        {"nu", 957},        {"xi", 958},        {"omicron", 959},
    {"pi", 960},        {"rho", 961},       {"sigmaf", 962},    {"sigma", 963},
    {"tau", 964},       {"upsilon", 965},   {"phi", 966},       {"chi", 967},
    {"psi", 968},       {"omega", 969},     {"thetasym", 977},  {"upsih", 978},
    {"piv", 982},       {"ensp", 8194},     {"emsp", 8195},     {"thinsp", 8201},
    {"zwnj", 8204},     {"zwj", 8205},      {"lrm", 8206},      {"rlm", 8207},
    {"ndash", 8211},    {"mdash", 8212},    {"lsquo", 8216},    {"rsquo", 8217},
    {"sbquo", 8218},    {"ldquo", 8220},    {"rdquo", 8221},    {"bdquo", 8222},
    {"dagger", 8224},   {"Dagger", 8225},   {"bull", 8226},     {"hellip", 8230},
    {"permil", 8240},   {"prime", 8242},    {"Prime", 8243},    {"lsaquo", 8249},
    {"rsaquo", 8250},   {"oline", 8254},    {"frasl", 8260},    {"euro", 8364},
    {"image", 8465},    {"weierp", 8472},   {"real", 8476},     {"trade", 8482},
    {"alefsym", 8501},  {"larr", 8592},     {"uarr", 8593},     {"rarr", 8594},
    {"darr", 8595},     {"harr", 8596},     {"crarr", 8629},    {"lArr", 8656},
    {"uArr", 8657},     {"rArr", 8658},     {"dArr", 8659},     {"hArr", 8660},
    {"forall", 8704},   {"part", 8706},     {"exist", 8707},    {"empty", 8709},
    {"nabla", 8711},    {"isin", 8712},     {"notin", 8713},    {"ni", 8715},
    {"prod", 8719},     {"sum", 8721},      {"minus", 8722},    {"lowast", 8727},
    {"radic", 8730},    {"prop", 8733},     {"infin", 8734},    {"ang", 8736},
    {"and", 8743},      {"or", 8744},       {"cap", 8745},      {"cup", 8746},
    {"int", 8747},      {"there4", 8756},   {"sim", 8764},      {"cong", 8773},
    {"asymp", 8776},    {"ne", 8800},       {"equiv", 8801},    {"le", 8804},
    {"ge", 8805},       {"sub", 8834},      {"sup", 8835},      {"nsub", 8836},
    {"sube", 8838},     {"supe", 8839},     {"oplus", 8853},    {"otimes", 8855},
    {"perp", 8869},     {"sdot", 8901},     {"lceil", 8968},    {"rceil", 8969},
    {"lfloor", 8970},   {"rfloor", 8971},   {"lang", 9001},     {"rang", 9002},
    {"loz", 9674},      {"spades", 9824},   {"clubs", 9827},    {"hearts", 9829},
    {"diams", 9830},
};

const NamedEntity kLegacyMarkup[] = {
    {"amp", 38}, {"lt", 60}, {"gt", 62}, {"quot", 34},
    {"AMP", 38}, {"LT", 60}, {"GT", 62}, {"QUOT", 34}, {"COPY", 169}, {"REG", 174},
};

// Numeric references to 0x80..0x9F mean the windows-1252 characters, as
// every browser reads them.
const unsigned short kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct EntityTables {
    std::unordered_map<std::string, unsigned> all;     // need ';'
    std::unordered_map<std::string, unsigned> legacy;  // may go without ';'
    EntityTables() {
        for (int i = 0; i < 96; ++i) {
            all[kLatin1Names[i]] = 160u + i;
            legacy[kLatin1Names[i]] = 160u + i;
        }
        for (const NamedEntity& e : kLegacyMarkup) {
            all[e.name] = e.codePoint;
            legacy[e.name] = e.codePoint;
        }
        for (const NamedEntity& e : kOtherNames) all[e.name] = e.codePoint;
    }
};

const EntityTables& Entities() {
    static const EntityTables tables;
    return tables;
}

bool IsAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(unsigned char c) { return IsAlpha(c) || IsDigit(c); }
int HexValue(unsigned char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

unsigned long NumericCodePoint(unsigned long value) {
    if (value == 0 || value > 0x10FFFF) return 0xFFFD;
    if (value >= 0xD800 && value <= 0xDFFF) return 0xFFFD;
    if (value >= 0x80 && value <= 0x9F) return kWindows1252[value - 0x80];
    return value;
}

// Decodes the reference at p[0] == '&'. Returns the bytes used, 0 when it
// is no reference (the '&' then stands for itself).
template <typename WideString>
size_t DecodeReference(WideString& out, const char* p, size_t n, bool inAttribute) {
    if (n < 2) return 0;
    if (p[1] == '#') {
        size_t i = 2;
        bool hex = i < n && (p[i] == 'x' || p[i] == 'X');
        if (hex) ++i;
        const size_t digitsStart = i;
        unsigned long value = 0;
        for (; i < n; ++i) {
            const int digit = hex ? HexValue(p[i]) : (IsDigit(p[i]) ? p[i] - '0' : -1);
            if (digit < 0) break;
            if (value <= 0x10FFFF) value = value * (hex ? 16 : 10) + digit;
        }
        if (i == digitsStart) return 0;
        if (i < n && p[i] == ';') ++i;
        AppendCodePoint(out, NumericCodePoint(value));
        return i;
    }

    size_t run = 1;
    while (run < n && run <= 32 && IsAlnum(p[run])) ++run;
    const size_t nameLength = run - 1;
    if (nameLength == 0) return 0;
    const EntityTables& tables = Entities();
    if (run < n && p[run] == ';') {
        auto found = tables.all.find(std::string(p + 1, nameLength));
        if (found != tables.all.end()) {
            AppendCodePoint(out, found->second);
            return run + 1;
        }
    }
    // Without ';': the longest legacy name the run begins with.
    for (size_t length = nameLength < 6 ? nameLength : 6; length >= 2; --length) {
        auto found = tables.legacy.find(std::string(p + 1, length));
        if (found == tables.legacy.end()) continue;
        const size_t end = 1 + length;
        if (inAttribute && end < n && (IsAlnum(p[end]) || p[end] == '=')) return 0;
        AppendCodePoint(out, found->second);
        return end;
    }
    return 0;
}

}  // namespace

template <typename WideString>
void AppendAnsi(WideString& out, const char* bytes, size_t length) {
    size_t i = 0;
    while (i < length) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (c < 0x80) {
            out.push_back(static_cast<wchar_t>(c));
            ++i;
            continue;
        }
        // Hand the rest up to the next NUL to the code page at once, so a
        // double-byte character whose trail byte looks like ASCII stays whole.
        const void* nul = std::memchr(bytes + i, 0, length - i);
        size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : length;
        if (end - i > static_cast<size_t>(INT_MAX / 2)) end = i + INT_MAX / 2;
        const int count = static_cast<int>(end - i);
        const int needed = MultiByteToWideChar(CP_ACP, 0, bytes + i, count, nullptr, 0);
        if (needed > 0) {
            const size_t start = out.size();
            out.resize(start + static_cast<size_t>(needed));
            MultiByteToWideChar(CP_ACP, 0, bytes + i, count, &out[start], needed);
        }
        i = end;
    }
}

std::wstring AnsiToWide(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    AppendAnsi(out, bytes.data(), bytes.size());
    return out;
}

std::string WideToAnsi(const wchar_t* text, size_t length) {
    if (!text || length == 0) return std::string();
    if (length > static_cast<size_t>(INT_MAX / 4)) length = INT_MAX / 4;
    const int count = static_cast<int>(length);
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, count, &out[0], needed, nullptr, nullptr);
    return out;
}

std::string WideToAnsi(std::wstring_view text) { return WideToAnsi(text.data(), text.size()); }

template <typename WideString>
void AppendDecoded(WideString& out, const char* bytes, size_t length, bool inAttribute) {
    size_t i = 0;
    while (i < length) {
        const void* amp = std::memchr(bytes + i, '&', length - i);
        const size_t at = amp ? static_cast<size_t>(static_cast<const char*>(amp) - bytes) : length;
        AppendAnsi(out, bytes + i, at - i);
        if (at == length) return;
        const size_t used = DecodeReference(out, bytes + at, length - at, inAttribute);
        if (used == 0) {
            out.push_back(L'&');
            i = at + 1;
        } else {
            i = at + used;
        }
    }
}

template <typename WideString>
void AppendCodePoint(WideString& out, unsigned long codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<wchar_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::wstring UpperAscii(std::wstring_view source) {
    std::wstring text(source);
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

bool IsAsciiSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f';
}

std::wstring CollapseSpace(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    bool pendingSpace = false;
    for (wchar_t c : text) {
        if (IsAsciiSpace(c) || c == 0xA0) {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace) out.push_back(L' ');
        pendingSpace = false;
        out.push_back(c);
    }
    return out;
}

template void AppendAnsi(std::wstring&, const char*, size_t);
template void AppendAnsi(std::pmr::wstring&, const char*, size_t);
template void AppendDecoded(std::wstring&, const char*, size_t, bool);
template void AppendDecoded(std::pmr::wstring&, const char*, size_t, bool);
template void AppendCodePoint(std::wstring&, unsigned long);
template void AppendCodePoint(std::pmr::wstring&, unsigned long);

}  // namespace standin::detail
