// The user's list of sites and addresses whose popups are always let through,
// and its file "WhiteList.txt", which every user of the machine shares.
#pragma once

#include <windows.h>

#include <vector>

#include "base/ansi_string.h"
#include "base/lock.h"
#include "whitelist/whitelist_file.h"

namespace korvane {

constexpr char kWhiteListFileName[] = "WhiteList.txt";
// A save writes the list to a new file of a name no one else uses, beside
// the list, and moves it over the list only when complete: a failed save
// never leaves a half-written list behind, and a name planted in the folder
// (a hard link to someone else's file) is never opened. The names are
// "WhiteList." + 8 hexadecimal digits + ".tmp". Where the old list must be
// moved aside to be replaced (Windows will not move a file over one that a
// reader holds), it goes to a backup of the same form ending ".bak", which
// stays until a list stands in place again: should the save be killed
// between the two moves, the backup holds the only copy of the list, and
// the next process that finds no list puts it back.
constexpr char kWhiteListTempPrefix[] = "WhiteList.";
constexpr char kWhiteListTempSuffix[] = ".tmp";
constexpr char kWhiteListBackupSuffix[] = ".bak";
// Held, beside the list, by the process that reads, merges and replaces it
// (see ListLock in whitelist_store.cpp); gone when no process holds it.
constexpr char kWhiteListLockName[] = "WhiteList.lock";

// The folder that holds the list, with its trailing backslash: "Vantrell" in
// the machine's common application data folder ("ProgramData"), a folder
// of its own that users may write and that holds no program (setup makes
// it, with that list of rights). Where there is no such folder, as when the
// library was registered with regsvr32 alone, the list is where it always
// was, beside the library: the library never makes the folder itself (made
// by a user, it would be that user's, closed to the others' saves). Found
// at every use: setup may make it while browsers run. Empty when neither
// can be found.
AnsiString WhiteListDirectory();
constexpr char kWhiteListFolderName[] = "Vantrell";

// Opens the list file for reading the way every reader must: sharing read,
// write and delete, so that a reader never makes another process's save
// fail.
HANDLE OpenWhiteListForReading(const char* path) noexcept;

// One store per process. Every operation takes the store's lock, so the
// popup decision on a browser thread never sees an entry that a dialog is
// freeing or replacing.
//
// The file is shared by every browser process, the stores are not. So the
// store writes the file only when this process changed the list, and before
// it writes, or when a dialog that can change the list opens, it takes in
// what another process saved since this one last read or wrote the file.
class WhiteListStore {
public:
    // directory: the folder that holds the file, with or without a trailing
    // backslash. Empty: WhiteListDirectory(), found whenever the path is
    // needed.
    explicit WhiteListStore(const char* directory = nullptr);
    virtual ~WhiteListStore() = default;

    WhiteListStore(const WhiteListStore&) = delete;
    WhiteListStore& operator=(const WhiteListStore&) = delete;

    // Loads the file when the store holds no entries and no change of this
    // process: a store with entries is not reloaded, and neither is a list
    // the user emptied and that is not saved yet. A missing or unreadable
    // file leaves it as it is.
    void LoadIfEmpty();

    // For a dialog that can change the list, when it opens: when the file
    // changed on disk (its last-write time, size or identity) since this
    // process last read or wrote it, the store takes the file's list, with
    // this process's unsaved changes applied to it (MergeWhiteLists). A
    // missing or unreadable file leaves the store as it is.
    void ReloadIfChanged();

    // Whether the store holds changes that the file does not.
    bool HasUnsavedChanges() const;

    // Writes the list when it holds unsaved changes (after taking in, as
    // ReloadIfChanged does, what another process saved meanwhile); with
    // none, the file is left as it is. Reading, merging and replacing the
    // file is one step among every process, of every user, that saves it. True when the file then holds the
    // list. False when it could not be written, with the system's reason in
    // *reason: the old file is then as it was, and the store keeps its
    // changes for a later save.
    bool Save(DWORD* reason = nullptr);

    // All three refuse what the store cannot hold (an empty entry, one over
    // 259 bytes, one that holds a NUL, or more than 800 entries), returning
    // false and changing nothing.
    bool Append(const char* text);
    bool ReplaceAll(const std::vector<AnsiString>& entries) {
        return Edit([&entries](const std::vector<AnsiString>&, std::vector<AnsiString>& next) {
            next = entries;
            return true;
        });
    }
    // Replaces the entries with the list change(entries, next) makes of
    // them, under the store's lock, so that no other change comes between
    // what change saw and what the store then holds. When change returns
    // false the store stays as it is. change must not call the store.
    template <typename Change>
    bool Edit(Change change) {
        std::vector<AnsiString> next;
        ScopedLock hold(lock_);
        if (!change(static_cast<const std::vector<AnsiString>&>(entries_), next) || !Holdable(next))
            return false;
        entries_.swap(next);
        return true;
    }

    int Count() const;
    // A copy of entry index, or an empty string when there is none. (This
    // and Reset are defined here, so they are made only where they are used,
    // the tests: every function of an object the library links stays in
    // it, called or not, as its unwind tables refer to it.)
    AnsiString EntryAt(int index) const {
        ScopedLock hold(lock_);
        if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return AnsiString();
        return entries_[static_cast<size_t>(index)];
    }
    std::vector<AnsiString> Snapshot() const;

    // Tests entries in store order under the lock; stops at the first entry
    // for which match(text, length) returns true. The length is the text's
    // own: no entry holds a NUL. match must not call back into the store.
    template <typename Match>
    bool AnyEntry(Match match) const {
        ScopedLock hold(lock_);
        for (const AnsiString& entry : entries_)
            if (match(entry.c_str(), entry.length())) return true;
        return false;
    }

    // The full path of the list file (empty when it cannot be determined).
    AnsiString FilePath() const;

    // Back to the state of a store that was never used: empty, with nothing
    // read or changed. For tests, which share one process's store.
    void Reset() {
        ScopedLock file(fileLock_);
        ScopedLock hold(lock_);
        entries_.clear();
        fileEntries_.clear();
        stamp_ = FileStamp();
        stampKnown_ = false;
    }

protected:
    // Where the names of the temporary files start; a save tries this
    // number and the ones after it until it can create a new file.
    virtual DWORD TempNameSeed();

private:
    // What identifies one version of the file.
    struct FileStamp {
        bool exists = false;
        FILETIME lastWrite{};
        ULONGLONG size = 0;
        DWORD volume = 0;
        DWORD indexHigh = 0;
        DWORD indexLow = 0;
        bool operator==(const FileStamp& other) const noexcept;
        // Takes the stamp of an open file; false, and unchanged, on failure.
        bool TakeFrom(HANDLE file) noexcept;
    };

    static bool Holdable(const std::vector<AnsiString>& entries) noexcept;
    AnsiString PathOf(const char* fileName) const;
    // Reads the file, unless it is the version this process last read or
    // wrote: *unchanged then says so. A list that is missing while a backup
    // holds it is put back first (taking the list lock unless listLocked).
    DWORD ReadListFile(bool listLocked, bool* unchanged, FileStamp* stamp,
                       std::vector<AnsiString>* entries) const;
    DWORD ReadOnce(bool* unchanged, FileStamp* stamp, std::vector<AnsiString>* entries) const;
    // The newest backup that holds a list; empty when there is none.
    AnsiString NewestBackup() const;
    // The three below run with fileLock_ held.
    DWORD TakeInChangesOnDisk(bool listLocked);
    DWORD WriteListFile(const std::vector<AnsiString>& entries, FileStamp* stamp);
    // Deletes what saves killed in the middle left in the list's folder,
    // once it is old enough that no save still uses it; a backup only
    // because the list stands in place (the caller has just put it there).
    void RemoveStaleTempFiles() const;
    DWORD SaveChanges();

    mutable CriticalSection lock_;  // the fields below
    std::vector<AnsiString> entries_;
    // The list as this process last read or wrote the file, and that
    // version's stamp (none yet when stampKnown_ is false).
    std::vector<AnsiString> fileEntries_;
    FileStamp stamp_;
    bool stampKnown_ = false;

    // Held through every file operation, so the process reads and writes
    // its list one operation at a time. Never taken inside lock_.
    CriticalSection fileLock_;
    AnsiString directory_;
};

// The process's store.
WhiteListStore& TheWhiteList();

}  // namespace korvane
