#include "whitelist/whitelist_store.h"

#include <cstring>

#include "base/unique_resource.h"
#include "module/module_path.h"
#include "module/shared_state.h"

namespace korvane {
namespace {

constexpr char kCtrlZ = 0x1A;

bool IsListSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Collects tokens from text that may arrive in pieces.
class Tokenizer {
public:
    explicit Tokenizer(std::vector<AnsiString>& out) : out_(out) {}

    // Returns false once no more input is wanted (end of text, or the list
    // is full).
    bool Feed(const char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == kCtrlZ) {
                Finish();
                return false;
            }
            if (IsListSpace(c)) {
                EndToken();
                if (Full()) return false;
                continue;
            }
            if (length_ < kWhiteListEntryMax) token_[length_] = c;
            ++length_;
        }
        return !Full();
    }

    void Finish() { EndToken(); }

private:
    bool Full() const { return out_.size() >= static_cast<size_t>(kWhiteListCapacity); }

    void EndToken() {
        const size_t length = length_;
        length_ = 0;
        if (length == 0 || length > kWhiteListEntryMax || Full()) return;
        // A NUL inside a token ends the entry's text there.
        const size_t text = strnlen(token_, length);
        if (text == 0) return;
        out_.emplace_back(token_, text);
    }

    std::vector<AnsiString>& out_;
    char token_[kWhiteListEntryMax] = {};
    size_t length_ = 0;
};

bool WriteAll(HANDLE file, const char* data, size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

bool IsStorableEntry(const char* text) noexcept {
    return text && strnlen(text, kWhiteListEntryMax + 1) <= kWhiteListEntryMax;
}

std::vector<AnsiString> ParseWhiteList(const char* data, size_t size) {
    std::vector<AnsiString> entries;
    Tokenizer tokens(entries);
    if (tokens.Feed(data, size)) tokens.Finish();
    return entries;
}

AnsiString FormatWhiteList(const std::vector<AnsiString>& entries) {
    if (entries.empty()) return AnsiString("\r\n");
    size_t total = 0;
    for (const AnsiString& entry : entries) total += entry.length() + 2;
    AnsiString image;
    image.Allocate(total);
    char* out = image.data();
    for (const AnsiString& entry : entries) {
        std::memcpy(out, entry.c_str(), entry.length());
        out += entry.length();
        *out++ = '\r';
        *out++ = '\n';
    }
    return image;
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

void WhiteListStore::LoadIfEmpty() {
    {
        ScopedLock hold(lock_);
        if (!entries_.empty()) return;
    }
    const AnsiString path = FilePath();
    if (path.empty()) return;
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;

    std::vector<AnsiString> loaded;
    Tokenizer tokens(loaded);
    char chunk[4096];
    bool more = true;
    while (more) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) || read == 0) {
            tokens.Finish();
            break;
        }
        more = tokens.Feed(chunk, read);
    }

    ScopedLock hold(lock_);
    // Another thread may have filled the store while the file was read.
    if (entries_.empty()) entries_ = std::move(loaded);
}

bool WhiteListStore::Save() {
    const AnsiString path = FilePath();
    const AnsiString temp = PathOf(kWhiteListTempFileName);
    if (path.empty() || temp.empty()) return false;

    AnsiString image;
    {
        ScopedLock hold(lock_);
        image = FormatWhiteList(entries_);
    }

    {
        // No sharing: a second process saving at the same moment fails here
        // instead of writing into the same temporary file.
        UniqueFile file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (!WriteAll(file.get(), image.c_str(), image.length()) || !FlushFileBuffers(file.get())) {
            file.reset();
            DeleteFileA(temp.c_str());
            return false;
        }
    }
    // A list the user made read-only stays as it is. Windows refuses to
    // replace such a file anyway; this makes the rule hold everywhere.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        DeleteFileA(temp.c_str());
        return false;
    }
    if (!MoveFileExA(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
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
    for (const AnsiString& entry : entries)
        if (entry.length() > kWhiteListEntryMax) return false;
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

AnsiString WhiteListStore::EntryAt(int index) const {
    ScopedLock hold(lock_);
    if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return AnsiString();
    return entries_[static_cast<size_t>(index)];
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
