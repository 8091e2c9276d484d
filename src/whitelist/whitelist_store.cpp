#include "whitelist/whitelist_store.h"

#include <cstring>
#include <new>

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

// "WhiteList." + serial in eight hexadecimal digits + ".tmp".
AnsiString TempFileName(DWORD serial) {
    char name[sizeof kWhiteListTempPrefix + 8 + sizeof kWhiteListTempSuffix] = {};
    const size_t prefix = sizeof kWhiteListTempPrefix - 1;
    std::memcpy(name, kWhiteListTempPrefix, prefix);
    for (int i = 0; i < 8; ++i)
        name[prefix + i] = "0123456789abcdef"[(serial >> (28 - 4 * i)) & 0xF];
    std::memcpy(name + prefix + 8, kWhiteListTempSuffix, sizeof kWhiteListTempSuffix);
    return AnsiString(name);
}

bool IsTempFileName(const char* name) noexcept {
    const size_t prefix = sizeof kWhiteListTempPrefix - 1;
    const size_t suffix = sizeof kWhiteListTempSuffix - 1;
    if (std::strlen(name) != prefix + 8 + suffix ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, static_cast<int>(prefix),
                       kWhiteListTempPrefix, static_cast<int>(prefix)) != CSTR_EQUAL ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name + prefix + 8, static_cast<int>(suffix),
                       kWhiteListTempSuffix, static_cast<int>(suffix)) != CSTR_EQUAL)
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
// list at all. *backupHoldsList is set when the old list could not be put
// back from backup: it must then stay.
DWORD PutInPlace(const char* temp, const char* path, const char* backup, bool* backupHoldsList) {
    *backupHoldsList = false;
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
            *backupHoldsList = !MoveFileExA(backup, path, MOVEFILE_WRITE_THROUGH);
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

AnsiString WhiteListStore::PathOf(const char* fileName) const {
    AnsiString directory = directory_.empty() ? LibraryDirectory() : directory_;
    if (directory.empty()) return AnsiString();
    const size_t nameLength = std::strlen(fileName);
    AnsiString path;
    path.Allocate(directory.length() + nameLength);
    std::memcpy(path.data(), directory.c_str(), directory.length());
    std::memcpy(path.data() + directory.length(), fileName, nameLength);
    return path;
}

AnsiString WhiteListStore::FilePath() const { return PathOf(kWhiteListFileName); }

DWORD WhiteListStore::ReadListFile(bool* unchanged, FileStamp* stamp,
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
    const DWORD error = ReadListFile(&unchanged, &stamp, &loaded);
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

DWORD WhiteListStore::TakeInChangesOnDisk() {
    FileStamp stamp;
    bool unchanged = false;
    std::vector<AnsiString> theirs;
    const DWORD error = ReadListFile(&unchanged, &stamp, &theirs);
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
        TakeInChangesOnDisk();
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
        backup = PathOf(TempFileName(seed + serial).c_str());
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

    bool backupHoldsList = false;
    const DWORD error = PutInPlace(temp.c_str(), path.c_str(), backup.c_str(), &backupHoldsList);
    // The old list, or nothing: a reader may still hold it, which the
    // deletion does not disturb.
    if (!backupHoldsList) DeleteFileA(backup.c_str());
    if (error != ERROR_SUCCESS) DeleteFileA(temp.c_str());
    else RemoveStaleTempFiles();
    return error;
}

void WhiteListStore::RemoveStaleTempFiles() const {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    WIN32_FIND_DATAA found{};
    const AnsiString pattern = PathOf("WhiteList.*.tmp");
    if (pattern.empty()) return;
    UniqueFind search(FindFirstFileA(pattern.c_str(), &found));
    if (!search) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsTempFileName(found.cFileName) ||
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
    // A file this process cannot read is not overwritten either: it may
    // hold entries that would be lost.
    DWORD error = TakeInChangesOnDisk();
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

bool WhiteListStore::ReplaceAll(const std::vector<AnsiString>& entries) {
    if (entries.size() > static_cast<size_t>(kWhiteListCapacity)) return false;
    // An entry with a NUL inside would read as a shorter one, or as none.
    for (const AnsiString& entry : entries)
        if (!IsStorableEntry(entry.c_str()) || entry.length() > kWhiteListEntryMax ||
            std::strlen(entry.c_str()) != entry.length())
            return false;
    // Copy before taking the lock, so a failed allocation leaves the store whole.
    std::vector<AnsiString> copy(entries);
    ScopedLock hold(lock_);
    entries_.swap(copy);
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
