// The white list file's tokenizer and its limits, against a plain split of
// the same text; the tokenizer fed in pieces against the whole; and lists
// written by FormatWhiteList and read back, which must give every entry
// again. Input: the file's bytes; the same bytes cut at NULs are also taken
// as a list of entries to write. MergeWhiteLists is checked on lists cut
// from the input too.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/code_page.h"
#include "fuzz_support.h"
#include "whitelist/whitelist_file.h"

using namespace korvane;

namespace {

using List = std::vector<std::string>;

List Texts(const std::vector<AnsiString>& entries) {
    List texts;
    for (const AnsiString& entry : entries) texts.emplace_back(entry.c_str(), entry.length());
    return texts;
}

std::vector<AnsiString> Entries(const List& texts) {
    std::vector<AnsiString> entries;
    for (const std::string& text : texts) entries.emplace_back(text.data(), text.size());
    return entries;
}

bool IsSpace(unsigned unit) {
    return unit == ' ' || unit == '\t' || unit == '\r' || unit == '\n' || unit == '\v' ||
           unit == '\f';
}

std::string ShowList(const List& list) {
    std::string out;
    for (size_t i = 0; i < list.size() && i < 20; ++i) out += fuzz::Show(list[i]) + " ";
    return out + "(" + std::to_string(list.size()) + " entries)";
}

// The file read plainly: its units after the byte-order mark, up to a
// Ctrl-Z, split at white space; each token cut at a NUL and converted, and
// kept when it is an entry the store can hold, up to the capacity. Nothing
// past the read limit counts, nor a token the limit cuts.
List ExpectedEntries(const uint8_t* data, size_t size) {
    const bool cut = size > kWhiteListFileLimit;
    if (cut) size = kWhiteListFileLimit;
    enum { Ansi, Utf8, Utf16 } encoding = Ansi;
    size_t start = 0;
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
        encoding = Utf8, start = 3;
    } else if (size >= 2 && std::memcmp(data, "\xFF\xFE", 2) == 0) {
        encoding = Utf16, start = 2;
    }
    std::vector<unsigned> units;
    if (encoding == Utf16) {
        for (size_t i = start; i + 1 < size; i += 2) units.push_back(data[i] | (data[i + 1] << 8));
    } else {
        units.assign(data + start, data + size);
    }
    const auto end = std::find(units.begin(), units.end(), 0x1Au);
    const bool ended = end != units.end();
    units.erase(end, units.end());

    const size_t longest = encoding == Ansi ? kWhiteListEntryMax : 3 * kWhiteListEntryMax + 3;
    List entries;
    std::vector<unsigned> token;
    if (ended || !cut) units.push_back(' ');
    for (const unsigned unit : units) {
        if (!IsSpace(unit)) {
            token.push_back(unit);
            continue;
        }
        if (entries.size() == static_cast<size_t>(kWhiteListCapacity)) break;
        std::vector<unsigned> text(token.begin(), std::find(token.begin(), token.end(), 0u));
        const bool tooLong = token.size() > longest;
        token.clear();
        if (text.empty() || tooLong) continue;
        std::string entry;
        if (encoding == Ansi) {
            entry.assign(text.begin(), text.end());
        } else {
            std::vector<wchar_t> wide(text.begin(), text.end());
            if (encoding == Utf8) {
                const std::string bytes(text.begin(), text.end());
                wide.resize(bytes.size());
                wide.resize(static_cast<size_t>(Utf8ToWide(bytes.data(), static_cast<int>(bytes.size()),
                                                           wide.data(), static_cast<int>(wide.size()))));
                if (wide.empty()) continue;
            }
            char ansi[kWhiteListEntryMax];
            const int length = WideToExactAnsi(wide.data(), static_cast<int>(wide.size()), ansi,
                                               sizeof ansi);
            entry.assign(ansi, static_cast<size_t>(length));
        }
        if (!entry.empty() && entry.size() <= kWhiteListEntryMax) entries.push_back(entry);
    }
    return entries;
}

// The input again, fed to the tokenizer in pieces of 3 to 64 bytes, as a
// file arrives in reads.
List ReadInPieces(const uint8_t* data, size_t size) {
    std::vector<AnsiString> entries;
    WhiteListTokenizer tokens(entries);
    uint32_t state = static_cast<uint32_t>(size) * 2654435761u + 1;
    size_t at = 0;
    bool more = true;
    while (more && at < size) {
        state = state * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(size - at, 3 + (state >> 16) % 62);
        more = tokens.Feed(reinterpret_cast<const char*>(data) + at, piece);
        at += piece;
    }
    if (more) tokens.Finish();
    return Texts(entries);
}

// What a list the store holds must read back as: each entry, or the tokens
// an entry with white space in it splits into, in order, up to the capacity.
List ExpectedReadBack(const List& list) {
    List tokens;
    for (const std::string& entry : list) {
        size_t at = 0;
        while (at < entry.size()) {
            while (at < entry.size() && IsSpace(static_cast<unsigned char>(entry[at]))) ++at;
            size_t end = at;
            while (end < entry.size() && !IsSpace(static_cast<unsigned char>(entry[end]))) ++end;
            if (end > at && tokens.size() < static_cast<size_t>(kWhiteListCapacity))
                tokens.push_back(entry.substr(at, end - at));
            at = end;
        }
    }
    return tokens;
}

void CheckMerge(const List& pieces) {
    // Three lists from one: the file's version, this process's, another's.
    List lists[3];
    for (size_t i = 0; i < pieces.size(); ++i)
        if (lists[i % 3].size() < static_cast<size_t>(kWhiteListCapacity))
            lists[i % 3].push_back(pieces[i].substr(0, 2));
    const std::vector<AnsiString> base = Entries(lists[0]);
    const std::vector<AnsiString> ours = Entries(lists[1]);
    const std::vector<AnsiString> theirs = Entries(lists[2]);
    std::vector<AnsiString> merged;
    // Unchanged here: the other process's list is taken as it is.
    FUZZ_CHECK(MergeWhiteLists(base, base, theirs, &merged) && Texts(merged) == lists[2],
               "merge without changes of ours: %s", ShowList(Texts(merged)).c_str());
    // Unchanged there: our list, entries in any order.
    merged.clear();
    FUZZ_CHECK(MergeWhiteLists(base, ours, base, &merged), "merge refused");
    List sortedMerged = Texts(merged);
    List sortedOurs = lists[1];
    std::sort(sortedMerged.begin(), sortedMerged.end());
    std::sort(sortedOurs.begin(), sortedOurs.end());
    FUZZ_CHECK(sortedMerged == sortedOurs, "merge without changes of theirs: %s",
               ShowList(Texts(merged)).c_str());
    // Both changed: each entry as often as both changes say, a change both
    // sides made once.
    merged.clear();
    if (!MergeWhiteLists(base, ours, theirs, &merged)) return;
    const List result = Texts(merged);
    for (const List* list : {&lists[0], &lists[1], &lists[2]})
        for (const std::string& entry : *list) {
            auto count = [&](const List& l) { return std::count(l.begin(), l.end(), entry); };
            const long b = count(lists[0]), o = count(lists[1]), t = count(lists[2]);
            const long want = (o >= b && t >= b) ? std::max(o, t)
                              : (o <= b && t <= b) ? std::min(o, t) : o + t - b;
            FUZZ_CHECK(count(result) == want, "merge keeps %s %ld times, not %ld",
                       fuzz::Show(entry).c_str(), count(result), want);
        }
    // A dialog's list brought in line with the store holds the store's
    // entries; one the store holds as shown stays as it is.
    List followed = Texts(FollowStore(ours, theirs)), sortedTheirs = lists[2];
    std::sort(followed.begin(), followed.end());
    std::sort(sortedTheirs.begin(), sortedTheirs.end());
    FUZZ_CHECK(followed == sortedTheirs, "followed %s", ShowList(followed).c_str());
    FUZZ_CHECK(Texts(FollowStore(ours, ours)) == lists[1], "a list in line changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const List entries = Texts(ParseWhiteList(text, size));
    FUZZ_CHECK(entries == ExpectedEntries(data, size), "read %s, expected %s",
               ShowList(entries).c_str(), ShowList(ExpectedEntries(data, size)).c_str());
    FUZZ_CHECK(ReadInPieces(data, size) == entries, "read in pieces: %s",
               ShowList(ReadInPieces(data, size)).c_str());
    for (const std::string& entry : entries)
        FUZZ_CHECK(IsStorableEntry(entry.c_str()) && entry.size() == std::strlen(entry.c_str()),
                   "entry %s", fuzz::Show(entry).c_str());

    // Written and read again: the entries just read, and the input's pieces
    // as a list a dialog may have made.
    List made;
    for (const std::string& piece : fuzz::SplitAtNul(data, size))
        if (IsStorableEntry(piece.c_str()) && made.size() < static_cast<size_t>(kWhiteListCapacity))
            made.push_back(piece);
    for (const List* list : {&entries, static_cast<const List*>(&made)}) {
        const AnsiString image = FormatWhiteList(Entries(*list));
        const List again = Texts(ParseWhiteList(image.c_str(), image.length()));
        FUZZ_CHECK(again == ExpectedReadBack(*list), "list %s\nread back as %s",
                   ShowList(*list).c_str(), ShowList(again).c_str());
    }

    CheckMerge(fuzz::SplitAtNul(data, size));
    return 0;
}
