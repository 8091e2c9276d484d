// The white list's file format and the rules for whole lists: how the
// contents of "WhiteList.txt" split into entries and how a list is written,
// what an entry may be, and how two processes' changes merge. Plain
// functions of bytes and strings, free of Windows headers.
#pragma once

#include <cstddef>
#include <vector>

#include "base/narrow_string.h"

namespace korvane {

constexpr int kWhiteListCapacity = 800;
// An entry must fit a 260-byte buffer with its terminator.
constexpr size_t kWhiteListEntryMax = 259;
// Whether the store can hold text as one entry: not empty, not longer than
// an entry may be, and without a Ctrl-Z, which would end the file's text
// when it is read back and lose every entry after it.
bool IsStorableEntry(const char* text) noexcept;

// How much of a file is read: no honest list comes near it (800 entries
// of at most 2,083 bytes, an address's longest, with their line ends),
// while a token without end or endless white space would hold up every new
// browser window for as long as the file goes on.
constexpr size_t kWhiteListFileLimit = kWhiteListCapacity * (2083 + 2);

// Splits file contents into entries the way the list has always been read:
// tokens separated by runs of whitespace (space, tab, CR, LF, VT, FF), in
// file order. A Ctrl-Z ends the text, as it does for a file read in text
// mode. A token longer than an entry may be is dropped whole (a cut entry
// would match more addresses than the user meant), and tokens beyond the
// capacity are dropped. Nothing beyond kWhiteListFileLimit bytes is read:
// a token cut there is dropped as well.
// A file that Notepad marked as UTF-8 (EF BB BF) or saved as "Unicode"
// (UTF-16LE, FF FE) is read as such and converted to the ANSI code page;
// a token that has no exact ANSI form is dropped rather than turned into an
// entry that names another site.
std::vector<AnsiString> ParseWhiteList(const char* data, size_t size);

// The file image of a list: every entry followed by CR LF, or a single CR LF
// for an empty list. When the first entry begins like a UTF-8 or UTF-16
// byte-order mark, a CR LF comes first, so the file reads back as written.
AnsiString FormatWhiteList(const std::vector<AnsiString>& entries);

// Applies one process's unsaved changes to the list that another process
// saved meanwhile: theirs without the entries this process deleted, then the
// entries it added, in its order. base is the list as this process last read
// or wrote the file, ours its list now. Each entry counts as often as it
// occurs; a change both sides made counts once (an entry both added is
// there once, as often as the side that added more has it). False, with
// merged untouched, when the result would hold more entries than the store
// can.
bool MergeWhiteLists(const std::vector<AnsiString>& base, const std::vector<AnsiString>& ours,
                     const std::vector<AnsiString>& theirs, std::vector<AnsiString>* merged);

// A list a dialog shows, brought in line with the store's entries: shown
// without what the store no longer holds, and what the store gained at the
// top (the store's last entry first), each counted as often as it occurs.
std::vector<AnsiString> FollowStore(const std::vector<AnsiString>& shown,
                                    const std::vector<AnsiString>& store);

// Whether two lists hold the same entries, byte for byte, in the same order.
bool SameList(const std::vector<AnsiString>& a, const std::vector<AnsiString>& b) noexcept;

// Splits file contents that may arrive in pieces into entries, as
// ParseWhiteList does with the whole: the encoding is the one the first
// piece's byte-order mark names.
class WhiteListTokenizer {
public:
    explicit WhiteListTokenizer(std::vector<AnsiString>& out) : out_(out) {}

    WhiteListTokenizer(const WhiteListTokenizer&) = delete;
    WhiteListTokenizer& operator=(const WhiteListTokenizer&) = delete;

    // Returns false once no more input is wanted (end of text, the list is
    // full, or kWhiteListFileLimit bytes have come).
    bool Feed(const char* data, size_t size);
    // Ends the text: the last token, if any, becomes an entry.
    void Finish() { EndToken(); }

private:
    enum class Encoding { Ansi, Utf8, Utf16 };
    // A UTF-8 token may take up to three bytes for each byte of its ANSI
    // form (the Western code page's euro sign, for one), so tokens are
    // gathered up to this many units before they are converted and
    // measured.
    static constexpr size_t kTokenUnits = 3 * kWhiteListEntryMax + 3;

    bool Full() const { return out_.size() >= static_cast<size_t>(kWhiteListCapacity); }
    bool FeedUnits(const char* data, size_t size);
    bool Take(unsigned unit);
    void EndToken();
    AnsiString Convert(size_t length) const;

    std::vector<AnsiString>& out_;
    size_t fed_ = 0;  // bytes taken so far
    bool started_ = false;
    Encoding encoding_ = Encoding::Ansi;
    bool haveLowByte_ = false;
    unsigned lowByte_ = 0;
    wchar_t token_[kTokenUnits] = {};
    size_t length_ = 0;
};

}  // namespace korvane
