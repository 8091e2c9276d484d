// The user's list of sites and addresses whose popups are always let through,
// and its file "WhiteList.txt" beside the library.
#pragma once

#include <windows.h>

#include <vector>

#include "base/ansi_string.h"
#include "base/lock.h"

namespace korvane {

constexpr int kWhiteListCapacity = 800;
// An entry must fit a 260-byte buffer with its terminator.
constexpr size_t kWhiteListEntryMax = 259;
constexpr char kWhiteListFileName[] = "WhiteList.txt";
// Written first and moved over the list only when complete, so a failed save
// never leaves a half-written list behind.
constexpr char kWhiteListTempFileName[] = "WhiteList.tmp";

// Whether the store can hold text as one entry.
bool IsStorableEntry(const char* text) noexcept;

// Splits file contents into entries the way the list has always been read:
// tokens separated by runs of whitespace (space, tab, CR, LF, VT, FF), in
// file order. A Ctrl-Z ends the text, as it does for a file read in text
// mode. A token longer than an entry may be is dropped whole (a cut entry
// would match more addresses than the user meant), and tokens beyond the
// capacity are dropped.
std::vector<AnsiString> ParseWhiteList(const char* data, size_t size);

// The file image of a list: every entry followed by CR LF, or a single CR LF
// for an empty list.
AnsiString FormatWhiteList(const std::vector<AnsiString>& entries);

// One store per process. Every operation takes the store's lock, so the
// popup decision on a browser thread never sees an entry that a dialog is
// freeing or replacing.
class WhiteListStore {
public:
    // directory: the folder that holds the file, with or without a trailing
    // backslash. Empty: the folder of the loaded "Korvane.dll", found when
    // the path is first needed.
    explicit WhiteListStore(const char* directory = nullptr);

    WhiteListStore(const WhiteListStore&) = delete;
    WhiteListStore& operator=(const WhiteListStore&) = delete;

    // Loads the file when the store holds no entries; a store with entries
    // is never reloaded. A missing or unreadable file leaves it empty.
    void LoadIfEmpty();

    // Writes the file whole: to a temporary file beside it, which then
    // replaces the old one. Returns false, and leaves the old file as it
    // was, when that cannot be done.
    bool Save();

    // Both refuse what the store cannot hold (an entry over 259 bytes, or
    // more than 800 entries), returning false and changing nothing.
    bool Append(const char* text);
    bool ReplaceAll(const std::vector<AnsiString>& entries);

    int Count() const;
    // A copy of entry index, or an empty string when there is none.
    AnsiString EntryAt(int index) const;
    std::vector<AnsiString> Snapshot() const;

    // Tests entries in store order under the lock; stops at the first entry
    // for which match returns true. match must not call back into the store.
    template <typename Match>
    bool AnyEntry(Match match) const {
        ScopedLock hold(lock_);
        for (const AnsiString& entry : entries_)
            if (match(entry.c_str())) return true;
        return false;
    }

    // The full path of the list file (empty when it cannot be determined).
    AnsiString FilePath() const;

private:
    AnsiString PathOf(const char* fileName) const;

    mutable CriticalSection lock_;
    std::vector<AnsiString> entries_;
    AnsiString directory_;
};

// The process's store.
WhiteListStore& TheWhiteList();

}  // namespace korvane
