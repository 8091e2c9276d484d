#include "module/registrar.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/ansi_string.h"
#include "base/unique_resource.h"

namespace korvane {
namespace {

// Saved contents of a key, read through the wide functions so that names
// and string data come back byte for byte, whatever the code page.
using WideName = std::unique_ptr<wchar_t[]>;  // terminated

struct SavedValue {
    WideName name;
    DWORD type = REG_NONE;
    std::unique_ptr<BYTE[]> data;
    DWORD size = 0;
};

struct SavedKey {
    WideName name;
    std::vector<SavedValue> values;
    std::vector<SavedKey> subkeys;
};

WideName CopyName(const wchar_t* name, DWORD length) {
    WideName copy(new wchar_t[length + 1]);
    std::memcpy(copy.get(), name, length * sizeof(wchar_t));
    copy[length] = L'\0';
    return copy;
}

WideName Widen(const char* text) {
    const int count = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    WideName wide(new wchar_t[count > 0 ? count : 1]());
    if (count > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), count);
    return wide;
}

// Deletes subKey of parent with everything below it, as the shell's
// SHDeleteKey does, through advapi32 alone: shlwapi is left out of the
// library's imports, and RegDeleteTree does not exist before Vista.
LONG DeleteKeyTree(HKEY parent, const char* subKey) noexcept {
    UniqueHkey key;
    LONG result = RegOpenKeyExA(parent, subKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE,
                                key.put());
    if (result != ERROR_SUCCESS) return result;
    char child[256];  // a key name has at most 255 characters
    for (;;) {
        DWORD length = sizeof child;
        // Always the first: the one before it is gone by now.
        result = RegEnumKeyExA(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) return result;
        result = DeleteKeyTree(key.get(), child);
        if (result != ERROR_SUCCESS) return result;
    }
    key.reset();
    return RegDeleteKeyA(parent, subKey);
}

// Reads one value; ERROR_FILE_NOT_FOUND when there is none.
LONG ReadValue(HKEY key, const wchar_t* name, SavedValue* value) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LONG result = RegQueryValueExW(key, name, nullptr, &value->type, nullptr, &size);
        if (result != ERROR_SUCCESS) return result;
        value->data.reset(size ? new BYTE[size]() : nullptr);
        result = RegQueryValueExW(key, name, nullptr, &value->type, value->data.get(), &size);
        // The value may grow between the two calls; ask again then. (Asked
        // with no room, the second call answers the new size as a success.)
        if (result == ERROR_MORE_DATA || (size && !value->data)) continue;
        if (result != ERROR_SUCCESS) return result;
        value->size = size;
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LONG SaveKey(HKEY key, SavedKey* saved) {
    DWORD subkeyCount = 0, maxSubkeyLength = 0, valueCount = 0, maxValueNameLength = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkeyLength,
                                   nullptr, &valueCount, &maxValueNameLength, nullptr, nullptr,
                                   nullptr);
    if (result != ERROR_SUCCESS) return result;

    DWORD room = maxValueNameLength + 1;
    WideName name(new wchar_t[room]());
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD length = room;
        result = RegEnumValueW(key, i, name.get(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) return result;
        SavedValue value;
        value.name = CopyName(name.get(), length);
        result = ReadValue(key, value.name.get(), &value);
        if (result != ERROR_SUCCESS) return result;
        saved->values.push_back(std::move(value));
    }

    room = maxSubkeyLength + 1;
    name.reset(new wchar_t[room]());
    for (DWORD i = 0; i < subkeyCount; ++i) {
        DWORD length = room;
        result = RegEnumKeyExW(key, i, name.get(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) return result;
        UniqueHkey subkey;
        result = RegOpenKeyExW(key, name.get(), 0, KEY_READ, subkey.put());
        if (result != ERROR_SUCCESS) return result;
        SavedKey child;
        child.name = CopyName(name.get(), length);
        result = SaveKey(subkey.get(), &child);
        if (result != ERROR_SUCCESS) return result;
        saved->subkeys.push_back(std::move(child));
    }
    return ERROR_SUCCESS;
}

LONG WriteSavedValue(HKEY key, const SavedValue& value) {
    return RegSetValueExW(key, value.name.get(), 0, value.type, value.data.get(), value.size);
}

// Puts saved values and subkeys back into key; carries on past failures.
void RestoreContents(HKEY key, const SavedKey& saved) noexcept {
    for (const SavedValue& value : saved.values) WriteSavedValue(key, value);
    for (const SavedKey& child : saved.subkeys) {
        UniqueHkey subkey;
        if (RegCreateKeyExW(key, child.name.get(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, subkey.put(), nullptr) != ERROR_SUCCESS)
            continue;
        RestoreContents(subkey.get(), child);
    }
}

AnsiString JoinPath(const AnsiString& parent, const char* name) {
    if (parent.empty()) return AnsiString(name);
    const size_t nameLength = std::strlen(name);
    AnsiString path;
    path.Allocate(parent.length() + 1 + nameLength);
    std::memcpy(path.data(), parent.c_str(), parent.length());
    path.data()[parent.length()] = '\\';
    std::memcpy(path.data() + parent.length() + 1, name, nameLength);
    return path;
}

// One change of a registration pass, with what it takes to undo it.
struct Change {
    enum class Kind { CreatedKey, ReplacedValue, DeletedKey };
    Kind kind = Kind::CreatedKey;
    HKEY hive = nullptr;
    AnsiString path;      // the key, from the hive
    bool hadValue = false;
    SavedValue oldValue;  // ReplacedValue: the value as it was
    SavedKey oldKey;      // DeletedKey: the key's contents as they were
};

LONG Keep(LONG first, LONG result) { return first != ERROR_SUCCESS ? first : result; }

LONG IgnoreMissing(LONG result) {
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

}  // namespace

// One pass over a table: a key's values follow it, then its subkeys, each
// with everything below it up to the next key at most as deep.
class RegistrationPass {
public:
    RegistrationPass(Registrar& registrar, const RegistryEntry* entries, size_t count,
                     const char* modulePath)
        : registrar_(registrar), entries_(entries), count_(entries ? count : 0),
          modulePath_(modulePath ? modulePath : "") {}

    HRESULT Register() noexcept {
        LONG result = ERROR_SUCCESS;
        try {
            for (size_t i = NextKey(0); i < count_ && result == ERROR_SUCCESS; i = NextKey(End(i))) {
                const HKEY root = RootKey(entries_[i].root);
                result = RegisterKey(root, root, AnsiString(), i);
            }
        } catch (...) {
            // Only allocation throws, and always before the change it was
            // making room for, so the journal covers every change made.
            result = ERROR_OUTOFMEMORY;
        }
        if (result == ERROR_SUCCESS) return S_OK;
        Undo();
        return HRESULT_FROM_WIN32(result);
    }

    HRESULT Unregister() noexcept {
        LONG first = ERROR_SUCCESS;
        for (size_t i = NextKey(0); i < count_; i = NextKey(End(i)))
            first = Keep(first, UnregisterKey(RootKey(entries_[i].root), i));
        return first == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(first);
    }

private:
    bool IsKey(size_t i) const { return entries_[i].kind == RegistryEntry::Kind::Key; }

    // The first key from i on (a table begins with one).
    size_t NextKey(size_t i) const {
        while (i < count_ && !IsKey(i)) ++i;
        return i;
    }

    // Past key's values and everything below it.
    size_t End(size_t key) const {
        size_t i = key + 1;
        while (i < count_ && (!IsKey(i) || entries_[i].depth > entries_[key].depth)) ++i;
        return i;
    }

    // Past key's values: its first subkey, or End(key).
    size_t ValuesEnd(size_t key) const {
        size_t i = key + 1;
        while (i < count_ && !IsKey(i)) ++i;
        return i;
    }

    LONG Gate() noexcept { return registrar_.BeforeChange(); }

    LONG RegisterKey(HKEY hive, HKEY parent, const AnsiString& parentPath, size_t index) {
        const RegistryEntry& key = entries_[index];
        const AnsiString path = JoinPath(parentPath, key.name);
        if (key.flag == KeyFlag::ForceRemove) {
            const LONG deleted = DeleteForRewrite(hive, parent, path, key.name);
            if (deleted != ERROR_SUCCESS) return deleted;
        }

        // Journalled before the call, so that no allocation can come between
        // creating the key and recording it; dropped again if the key was
        // there already.
        Change change;
        change.kind = Change::Kind::CreatedKey;
        change.hive = hive;
        change.path = path;
        journal_.push_back(std::move(change));
        UniqueHkey handle;
        DWORD disposition = 0;
        LONG result = Gate();
        if (result == ERROR_SUCCESS)
            result = RegCreateKeyExA(parent, key.name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_READ | KEY_WRITE, nullptr, handle.put(), &disposition);
        const bool created = result == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
        if (!created) journal_.pop_back();
        if (result != ERROR_SUCCESS) return result;

        size_t i = index + 1;
        for (; i < count_ && !IsKey(i); ++i) {
            result = SetValue(hive, handle.get(), path, created, entries_[i]);
            if (result != ERROR_SUCCESS) return result;
        }
        for (const size_t end = End(index); i < end; i = End(i)) {
            result = RegisterKey(hive, handle.get(), path, i);
            if (result != ERROR_SUCCESS) return result;
        }
        return ERROR_SUCCESS;
    }

    // Values of a key this pass created go with the key when it is undone;
    // values of a key that was there already are saved first.
    LONG SetValue(HKEY hive, HKEY key, const AnsiString& path, bool keyIsNew,
                  const RegistryEntry& value) {
        if (!keyIsNew) {
            Change change;
            change.kind = Change::Kind::ReplacedValue;
            change.hive = hive;
            change.path = path;
            change.oldValue.name = Widen(value.name);
            const LONG read = ReadValue(key, change.oldValue.name.get(), &change.oldValue);
            if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) return read;
            change.hadValue = read == ERROR_SUCCESS;
            journal_.push_back(std::move(change));
        }
        LONG result = Gate();
        if (result == ERROR_SUCCESS) {
            const bool number = value.kind == RegistryEntry::Kind::Dword;
            const char* text = value.text ? value.text : modulePath_;
            const BYTE* data = number ? reinterpret_cast<const BYTE*>(&value.number)
                                      : reinterpret_cast<const BYTE*>(text);
            const DWORD size =
                number ? sizeof value.number : static_cast<DWORD>(std::strlen(text) + 1);
            result = RegSetValueExA(key, value.name, 0, number ? REG_DWORD : REG_SZ, data, size);
        }
        if (result != ERROR_SUCCESS && !keyIsNew) journal_.pop_back();
        return result;
    }

    // A ForceRemove key that exists is saved whole, then deleted.
    LONG DeleteForRewrite(HKEY hive, HKEY parent, const AnsiString& path, const char* name) {
        Change change;
        {
            UniqueHkey existing;
            const LONG opened = RegOpenKeyExA(parent, name, 0, KEY_READ, existing.put());
            if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
            if (opened != ERROR_SUCCESS) return opened;
            const LONG saved = SaveKey(existing.get(), &change.oldKey);
            if (saved != ERROR_SUCCESS) return saved;
        }
        change.kind = Change::Kind::DeletedKey;
        change.hive = hive;
        change.path = path;
        journal_.push_back(std::move(change));
        const LONG allowed = Gate();
        if (allowed != ERROR_SUCCESS) {
            journal_.pop_back();
            return allowed;
        }
        // A deletion that fails part-way keeps its journal entry: undoing it
        // puts back whatever had already gone.
        return DeleteKeyTree(parent, name);
    }

    void Undo() noexcept {
        for (auto it = journal_.rbegin(); it != journal_.rend(); ++it) {
            const Change& change = *it;
            switch (change.kind) {
            case Change::Kind::CreatedKey:
                DeleteKeyTree(change.hive, change.path.c_str());
                break;
            case Change::Kind::ReplacedValue: {
                UniqueHkey key;
                if (RegOpenKeyExA(change.hive, change.path.c_str(), 0, KEY_SET_VALUE, key.put()) !=
                    ERROR_SUCCESS)
                    break;
                if (change.hadValue) {
                    WriteSavedValue(key.get(), change.oldValue);
                } else {
                    RegDeleteValueW(key.get(), change.oldValue.name.get());
                }
                break;
            }
            case Change::Kind::DeletedKey: {
                DeleteKeyTree(change.hive, change.path.c_str());
                UniqueHkey key;
                if (RegCreateKeyExA(change.hive, change.path.c_str(), 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(),
                                    nullptr) == ERROR_SUCCESS)
                    RestoreContents(key.get(), change.oldKey);
                break;
            }
            }
        }
        journal_.clear();
    }

    LONG UnregisterKey(HKEY parent, size_t index) noexcept {
        const RegistryEntry& key = entries_[index];
        const char* name = key.name;
        if (key.flag == KeyFlag::ForceRemove) {
            const LONG allowed = Gate();
            if (allowed != ERROR_SUCCESS) return allowed;
            return IgnoreMissing(DeleteKeyTree(parent, name));
        }
        // A NoRemove key is only looked into: write access to a shared key
        // such as CLSID is neither needed nor always granted.
        const REGSAM access = key.flag == KeyFlag::NoRemove ? KEY_READ : KEY_READ | KEY_SET_VALUE;
        UniqueHkey handle;
        const LONG opened = RegOpenKeyExA(parent, name, 0, access, handle.put());
        if (opened != ERROR_SUCCESS) return IgnoreMissing(opened);

        LONG first = ERROR_SUCCESS;
        const size_t valuesEnd = ValuesEnd(index);
        for (size_t i = valuesEnd, end = End(index); i < end; i = End(i))
            first = Keep(first, UnregisterKey(handle.get(), i));
        if (key.flag == KeyFlag::NoRemove) return first;

        for (size_t i = index + 1; i < valuesEnd; ++i) {
            LONG result = Gate();
            if (result == ERROR_SUCCESS)
                result = IgnoreMissing(RegDeleteValueA(handle.get(), entries_[i].name));
            first = Keep(first, result);
        }
        DWORD subkeys = 0, values = 0;
        if (RegQueryInfoKeyA(handle.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            subkeys != 0 || values != 0)
            return first;
        handle.reset();
        LONG result = Gate();
        if (result == ERROR_SUCCESS) result = IgnoreMissing(RegDeleteKeyA(parent, name));
        return Keep(first, result);
    }

    Registrar& registrar_;
    const RegistryEntry* entries_;
    size_t count_;
    const char* modulePath_;
    std::vector<Change> journal_;
};

HRESULT Registrar::Register(const RegistryEntry* entries, size_t count,
                            const char* modulePath) noexcept {
    RegistrationPass pass(*this, entries, count, modulePath);
    return pass.Register();
}

HRESULT Registrar::Unregister(const RegistryEntry* entries, size_t count) noexcept {
    RegistrationPass pass(*this, entries, count, nullptr);
    return pass.Unregister();
}

}  // namespace korvane
