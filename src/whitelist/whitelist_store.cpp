#include "whitelist/whitelist_store.h"

#include <shlobj.h>

#include <cstring>
#include <new>

#include "base/system_library.h"
#include "base/unique_resource.h"
#include "state/module_path.h"
#include "state/shared_state.h"

namespace korvane {
namespace {

// How often a save tries another temporary name when one is taken, and
// how often, and how far apart, it tries to replace a list that a reader
// holds without sharing it for deletion.
constexpr DWORD kTempNameAttempts = 100;
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplaceDelayMs = 50;
// A temporary file this old is a leftover of a save that was killed: a
// save lives for milliseconds, so no save in flight is ever this old.
constexpr ULONGLONG kStaleTempAge = 10ull * 60 * 10000000;  // in 100 ns
// How long a save waits for another process's save, which lasts
// milliseconds, or half a second while an editor holds the list.
constexpr DWORD kListLockWaitMs = 5000;
constexpr DWORD kListLockPollMs = 10;

// The shell, for the common application data folder; loaded when the list's
// path is first needed, never at load.
SystemLibrary shell32("shell32.dll");

bool IsMissing(DWORD error) noexcept {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

DWORD LastErrorOr(DWORD fallback) noexcept {
    const DWORD error = GetLastError();
    return error ? error : fallback;
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Whether CreateFile's error means that the name is in use: by a file, or
// by a folder or a file waiting to be deleted (a reader still holds it),
// which answer "access denied" as a folder closed to the user does.
bool NameTaken(DWORD error, const char* path) noexcept {
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ||
           GetLastError() == ERROR_ACCESS_DENIED;
}

// "WhiteList." + serial in eight hexadecimal digits + suffix (".tmp" or
// ".bak", both four characters).
AnsiString TempFileName(DWORD serial, const char* suffix = kWhiteListTempSuffix) {
    char name[sizeof kWhiteListTempPrefix + 8 + sizeof kWhiteListTempSuffix] = {};
    const size_t prefix = sizeof kWhiteListTempPrefix - 1;
    std::memcpy(name, kWhiteListTempPrefix, prefix);
    for (int i = 0; i < 8; ++i)
        name[prefix + i] = "0123456789abcdef"[(serial >> (28 - 4 * i)) & 0xF];
    std::memcpy(name + prefix + 8, suffix, sizeof kWhiteListTempSuffix);
    return AnsiString(name);
}

bool IsTempFileName(const char* name, const char* suffixText = kWhiteListTempSuffix) noexcept {
    const size_t prefix = sizeof kWhiteListTempPrefix - 1;
    const size_t suffix = sizeof kWhiteListTempSuffix - 1;
    if (std::strlen(name) != prefix + 8 + suffix ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, static_cast<int>(prefix),
                       kWhiteListTempPrefix, static_cast<int>(prefix)) != CSTR_EQUAL ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name + prefix + 8, static_cast<int>(suffix),
                       suffixText, static_cast<int>(suffix)) != CSTR_EQUAL)
        return false;
    for (size_t i = prefix; i < prefix + 8; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

ULONGLONG Ticks(const FILETIME& time) noexcept {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Puts the complete new list (temp) in place of the list (path). A list
// that exists is replaced by one move over it, so that at every moment,
// should the process be killed, the list is the old one or the new one.
// Windows refuses that move while a reader holds the old list open (readers
// share deletion, not replacement); ReplaceFile then moves the old list to
// backup and the new one in its place. Its old version survives any failure
// there: without a backup, a replacement that cannot be renamed leaves no
// list at all.
DWORD PutInPlace(const char* temp, const char* path, const char* backup) {
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        if (attempt > 0) Sleep(kReplaceDelayMs);
        const bool exists = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
        BOOL done = MoveFileExA(temp, path, exists ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
                                                   : MOVEFILE_WRITE_THROUGH);
        error = done ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
        if (exists && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION))
            done = ReplaceFileA(path, temp, backup, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        if (done) return ERROR_SUCCESS;
        error = LastErrorOr(ERROR_WRITE_FAULT);
        switch (error) {
        case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
            // The old list went to backup and the new one stayed where it
            // was: the old one goes back. Should another process have put a
            // list in place meanwhile, that newer list stays.
            MoveFileExA(backup, path, MOVEFILE_WRITE_THROUGH);
            return error;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_UNABLE_TO_REMOVE_REPLACED:
        // The list appeared or went between the look and the move.
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
        case ERROR_FILE_NOT_FOUND:
            continue;
        default:
            return error;
        }
    }
    return error;
}

bool Exists(const char* path) noexcept { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// The lock that makes reading, merging and replacing the list one step
// among every process that saves it: without it two saves would both read
// the old list, and the last to replace it would drop the other's entries.
//
// The list is one file for every user and logon session of the machine,
// so the lock must be too. A named object of "Local\" is the session's
// alone. One of "Global\" could be made first by any user of the machine,
// with a DACL that shuts the others out, and a browser in Protected Mode
// could open it only with a label made for that. A file beside the list
// is reached by exactly those who may change the list: the folder's ACL
// decides, for every user, session and integrity level alike (a browser at
// low integrity that may write the list may make this file too), and on a
// folder shared between machines it holds across them. Opened without
// sharing, it has one holder at a time; the system closes it when its
// holder ends, killed or not, and deletes it on that close, so no lock
// outlives the save that took it.
class ListLock {
public:
    explicit ListLock(const AnsiString& path) {
        if (path.empty()) return;
        const DWORD start = GetTickCount();
        for (;;) {
            // Only the right to delete it is asked for: nothing is read or
            // written through a name that anyone may plant in the folder.
            file_.reset(CreateFileA(path.c_str(), DELETE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            error_ = file_ ? ERROR_SUCCESS : LastErrorOr(ERROR_OPEN_FAILED);
            // Left by a system that went down in a save, made by one whom
            // this process may not delete for: held without deleting it.
            if (error_ == ERROR_ACCESS_DENIED && Exists(path.c_str())) {
                file_.reset(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
                error_ = file_ ? ERROR_SUCCESS : LastErrorOr(ERROR_OPEN_FAILED);
            }
            // Held by another save, or going as its holder lets go of it.
            const bool busy = error_ == ERROR_SHARING_VIOLATION ||
                              (error_ == ERROR_ACCESS_DENIED && Exists(path.c_str()));
            if (!busy || GetTickCount() - start >= kListLockWaitMs) return;
            Sleep(kListLockPollMs);
        }
    }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;
    // ERROR_SUCCESS while held; else why not.
    DWORD error() const { return error_; }

private:
    UniqueFile file_;
    DWORD error_ = ERROR_BAD_PATHNAME;
};

}  // namespace

HANDLE OpenWhiteListForReading(const char* path) noexcept {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WhiteListStore::FileStamp::operator==(const FileStamp& other) const noexcept {
    if (exists != other.exists) return false;
    if (!exists) return true;
    return lastWrite.dwLowDateTime == other.lastWrite.dwLowDateTime &&
           lastWrite.dwHighDateTime == other.lastWrite.dwHighDateTime && size == other.size &&
           volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
}

bool WhiteListStore::FileStamp::TakeFrom(HANDLE file) noexcept {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return false;
    exists = true;
    lastWrite = info.ftLastWriteTime;
    size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    volume = info.dwVolumeSerialNumber;
    indexHigh = info.nFileIndexHigh;
    indexLow = info.nFileIndexLow;
    return true;
}

WhiteListStore::WhiteListStore(const char* directory) {
    if (directory && *directory) {
        const size_t length = std::strlen(directory);
        if (directory[length - 1] == '\\') {
            directory_ = AnsiString(directory, length);
        } else {
            directory_.Allocate(length + 1);
            std::memcpy(directory_.data(), directory, length);
            directory_.data()[length] = '\\';
        }
    }
}

AnsiString WhiteListDirectory() {
    using FolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    char common[MAX_PATH] = {};
    const auto folderPath = shell32.Find<FolderPath>("SHGetFolderPathA");
    if (folderPath && SUCCEEDED(folderPath(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
        AnsiString folder = Concatenate({common, "\\", kWhiteListFolderName, "\\"});
        // A real folder: a link planted in its place would lead the saves
        // of every user elsewhere.
        const DWORD attributes = GetFileAttributesA(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return folder;
    }
    return LibraryDirectory();
}

AnsiString WhiteListStore::PathOf(const char* fileName) const {
    AnsiString directory = directory_.empty() ? WhiteListDirectory() : directory_;
    if (directory.empty()) return AnsiString();
    const size_t nameLength = std::strlen(fileName);
    AnsiString path;
    path.Allocate(directory.length() + nameLength);
    std::memcpy(path.data(), directory.c_str(), directory.length());
    std::memcpy(path.data() + directory.length(), fileName, nameLength);
    return path;
}

AnsiString WhiteListStore::FilePath() const { return PathOf(kWhiteListFileName); }

DWORD WhiteListStore::ReadListFile(bool listLocked, bool* unchanged, FileStamp* stamp,
                                   std::vector<AnsiString>* entries) const {
    const DWORD error = ReadOnce(unchanged, stamp, entries);
    // No list: a save killed between ReplaceFile's two moves may have left
    // it in a backup. Put back under the list lock, so that the backup of a
    // save still under way is not taken for one.
    if (!IsMissing(error) || NewestBackup().empty()) return error;
    ListLock lock(listLocked ? AnsiString() : PathOf(kWhiteListLockName));
    if (!listLocked && lock.error() != ERROR_SUCCESS) return error;
    const AnsiString backup = NewestBackup();
    const AnsiString path = FilePath();
    if (!backup.empty() && !path.empty() && !Exists(path.c_str()))
        MoveFileExA(backup.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
    return ReadOnce(unchanged, stamp, entries);
}

AnsiString WhiteListStore::NewestBackup() const {
    AnsiString newest;
    WIN32_FIND_DATAA found{};
    const AnsiString pattern = PathOf("WhiteList.*.bak");
    if (pattern.empty()) return newest;
    UniqueFind search(FindFirstFileA(pattern.c_str(), &found));
    if (!search) return newest;
    // Each keeps the date of the list it was. An empty one is a name a save
    // held and never used.
    ULONGLONG newestTime = 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !IsTempFileName(found.cFileName, kWhiteListBackupSuffix) ||
            (found.nFileSizeLow == 0 && found.nFileSizeHigh == 0) ||
            (!newest.empty() && Ticks(found.ftLastWriteTime) <= newestTime))
            continue;
        newest = PathOf(found.cFileName);
        newestTime = Ticks(found.ftLastWriteTime);
    } while (FindNextFileA(search.get(), &found));
    return newest;
}

DWORD WhiteListStore::ReadOnce(bool* unchanged, FileStamp* stamp,
                               std::vector<AnsiString>* entries) const {
    *unchanged = false;
    FileStamp knownStamp;
    bool stampKnown = false;
    {
        ScopedLock hold(lock_);
        knownStamp = stamp_;
        stampKnown = stampKnown_;
    }
    const FileStamp* known = stampKnown ? &knownStamp : nullptr;
    const AnsiString path = FilePath();
    if (path.empty()) return ERROR_BAD_PATHNAME;
    UniqueFile file(OpenWhiteListForReading(path.c_str()));
    if (!file) return LastErrorOr(ERROR_OPEN_FAILED);
    if (!stamp->TakeFrom(file.get())) return LastErrorOr(ERROR_READ_FAULT);
    if (known && *known == *stamp) {
        *unchanged = true;
        return ERROR_SUCCESS;
    }

    WhiteListTokenizer tokens(*entries);
    char chunk[4096];
    for (;;) {
        DWORD read = 0;
        // Half a list must never pass for the list.
        if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr))
            return LastErrorOr(ERROR_READ_FAULT);
        if (read == 0) {
            tokens.Finish();
            return ERROR_SUCCESS;
        }
        if (!tokens.Feed(chunk, read)) return ERROR_SUCCESS;
    }
}

void WhiteListStore::LoadIfEmpty() {
    {
        ScopedLock hold(lock_);
        // Empty with entries in the file's version: the user emptied it.
        if (!entries_.empty() || !fileEntries_.empty()) return;
    }
    ScopedLock file(fileLock_);
    FileStamp stamp;
    bool unchanged = false;
    std::vector<AnsiString> loaded;
    const DWORD error = ReadListFile(false, &unchanged, &stamp, &loaded);
    if (unchanged || (error != ERROR_SUCCESS && !IsMissing(error))) return;
    std::vector<AnsiString> copy(loaded);

    ScopedLock hold(lock_);
    // A dialog may have changed the store while the file was read.
    if (!entries_.empty() || !fileEntries_.empty()) return;
    entries_.swap(copy);
    fileEntries_ = std::move(loaded);
    stamp_ = error == ERROR_SUCCESS ? stamp : FileStamp();
    stampKnown_ = true;
}

DWORD WhiteListStore::TakeInChangesOnDisk(bool listLocked) {
    FileStamp stamp;
    bool unchanged = false;
    std::vector<AnsiString> theirs;
    const DWORD error = ReadListFile(listLocked, &unchanged, &stamp, &theirs);
    if (IsMissing(error)) {
        // A list file that went away holds no one's edits: the store keeps
        // its list, and the file is written again with the next change.
        ScopedLock hold(lock_);
        stamp_ = FileStamp();
        stampKnown_ = true;
        return ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS || unchanged) return error;

    ScopedLock hold(lock_);
    if (SameList(entries_, fileEntries_)) {
        std::vector<AnsiString> copy(theirs);
        entries_.swap(copy);
    } else if (!SameList(theirs, fileEntries_)) {
        // This process's unsaved edits meet another process's save. Both
        // are the users' work: the edits are applied to the newer list.
        // Should that not fit the store, the edits win.
        std::vector<AnsiString> merged;
        if (MergeWhiteLists(fileEntries_, entries_, theirs, &merged)) entries_.swap(merged);
    }
    fileEntries_ = std::move(theirs);
    stamp_ = stamp;
    stampKnown_ = true;
    return ERROR_SUCCESS;
}

void WhiteListStore::ReloadIfChanged() {
    ScopedLock file(fileLock_);
    try {
        TakeInChangesOnDisk(false);
    } catch (const std::bad_alloc&) {
        // The store stays as it was.
    }
}

bool WhiteListStore::HasUnsavedChanges() const {
    ScopedLock hold(lock_);
    return !SameList(entries_, fileEntries_);
}

DWORD WhiteListStore::TempNameSeed() {
    static LONG calls = 0;
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return (GetCurrentProcessId() * 2654435761u) ^ counter.LowPart ^ GetTickCount() ^
           (static_cast<DWORD>(InterlockedIncrement(&calls)) << 20);
}

DWORD WhiteListStore::WriteListFile(const std::vector<AnsiString>& entries, FileStamp* stamp) {
    const AnsiString path = FilePath();
    if (path.empty()) return ERROR_BAD_PATHNAME;
    // A list the user made read-only stays as it is. Windows refuses to
    // replace such a file anyway; this makes the rule hold everywhere.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return ERROR_ACCESS_DENIED;
    const AnsiString image = FormatWhiteList(entries);

    // Only a file this save creates is ever written: CREATE_NEW refuses any
    // name that exists, a leftover, a planted file or a link included (and,
    // with FILE_FLAG_OPEN_REPARSE_POINT, a link to nowhere too).
    const DWORD seed = TempNameSeed();
    AnsiString temp;
    AnsiString backup;
    UniqueFile file;
    DWORD serial = 0;
    for (; serial < kTempNameAttempts && !file; ++serial) {
        temp = PathOf(TempFileName(seed + serial).c_str());
        file.reset(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file) break;
        const DWORD error = LastErrorOr(ERROR_CANNOT_MAKE);
        if (!NameTaken(error, temp.c_str())) return error;
    }
    if (!file) return ERROR_CANNOT_MAKE;
    // The old list's name while it is replaced: one more name no one uses,
    // held by an empty file of this save's own.
    for (++serial; serial < kTempNameAttempts; ++serial) {
        backup = PathOf(TempFileName(seed + serial, kWhiteListBackupSuffix).c_str());
        UniqueFile held(CreateFileA(backup.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (held) break;
        backup = AnsiString();
    }
    auto discard = [&] {
        file.reset();
        DeleteFileA(temp.c_str());
        if (!backup.empty()) DeleteFileA(backup.c_str());
    };
    if (backup.empty()) {
        discard();
        return ERROR_CANNOT_MAKE;
    }

    if (!WriteAll(file.get(), image.c_str(), image.length()) || !FlushFileBuffers(file.get())) {
        const DWORD error = LastErrorOr(ERROR_WRITE_FAULT);
        discard();
        return error;
    }
    // The stamp of this version is taken from the file itself: after the
    // move, another process's save could already stand in its place.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    SetFileTime(file.get(), nullptr, nullptr, &now);
    stamp->TakeFrom(file.get());
    file.reset();

    const DWORD error = PutInPlace(temp.c_str(), path.c_str(), backup.c_str());
    // The backup goes only once a list stands in place: a ReplaceFile that
    // moved the old list aside and could not put it back leaves the only
    // copy there. (A reader may still hold the old list, which the
    // deletion does not disturb.)
    if (Exists(path.c_str())) DeleteFileA(backup.c_str());
    if (error != ERROR_SUCCESS) DeleteFileA(temp.c_str());
    else RemoveStaleTempFiles();
    return error;
}

void WhiteListStore::RemoveStaleTempFiles() const {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    WIN32_FIND_DATAA found{};
    const AnsiString pattern = PathOf("WhiteList.*");
    if (pattern.empty()) return;
    UniqueFind search(FindFirstFileA(pattern.c_str(), &found));
    if (!search) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !(IsTempFileName(found.cFileName) ||
              IsTempFileName(found.cFileName, kWhiteListBackupSuffix)) ||
            Ticks(found.ftLastWriteTime) + kStaleTempAge > Ticks(now))
            continue;
        const AnsiString leftover = PathOf(found.cFileName);
        if (!leftover.empty()) DeleteFileA(leftover.c_str());
    } while (FindNextFileA(search.get(), &found));
}

bool WhiteListStore::Save(DWORD* reason) {
    DWORD error = ERROR_SUCCESS;
    try {
        error = SaveChanges();
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (reason) *reason = error;
    return error == ERROR_SUCCESS;
}

DWORD WhiteListStore::SaveChanges() {
    ScopedLock file(fileLock_);
    if (!HasUnsavedChanges()) return ERROR_SUCCESS;
    ListLock lock(PathOf(kWhiteListLockName));
    if (lock.error() != ERROR_SUCCESS) return lock.error();
    // A file this process cannot read is not overwritten either: it may
    // hold entries that would be lost.
    DWORD error = TakeInChangesOnDisk(true);
    if (error != ERROR_SUCCESS) return error;
    std::vector<AnsiString> image;
    {
        ScopedLock hold(lock_);
        if (SameList(entries_, fileEntries_)) return ERROR_SUCCESS;
        std::vector<AnsiString>(entries_).swap(image);
    }
    FileStamp stamp;
    error = WriteListFile(image, &stamp);
    if (error != ERROR_SUCCESS) return error;
    ScopedLock hold(lock_);
    fileEntries_ = std::move(image);
    stamp_ = stamp;
    stampKnown_ = true;
    InterlockedIncrement(&sharedState->savedChanges);
    return ERROR_SUCCESS;
}

bool WhiteListStore::Append(const char* text) {
    if (!IsStorableEntry(text)) return false;
    AnsiString copy(text);
    ScopedLock hold(lock_);
    if (entries_.size() >= static_cast<size_t>(kWhiteListCapacity)) return false;
    entries_.push_back(std::move(copy));
    return true;
}

bool WhiteListStore::Holdable(const std::vector<AnsiString>& entries) noexcept {
    if (entries.size() > static_cast<size_t>(kWhiteListCapacity)) return false;
    // An entry with a NUL inside would read as a shorter one, or as none.
    for (const AnsiString& entry : entries)
        if (!IsStorableEntry(entry.c_str()) || entry.length() > kWhiteListEntryMax ||
            std::strlen(entry.c_str()) != entry.length())
            return false;
    return true;
}

int WhiteListStore::Count() const {
    ScopedLock hold(lock_);
    return static_cast<int>(entries_.size());
}

std::vector<AnsiString> WhiteListStore::Snapshot() const {
    ScopedLock hold(lock_);
    return entries_;
}

namespace {
WhiteListStore processWhiteList;
}  // namespace

WhiteListStore& TheWhiteList() { return processWhiteList; }

}  // namespace korvane
