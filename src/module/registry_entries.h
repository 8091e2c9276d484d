// Registry entries of a COM server as a flat table: each key in the order
// it is written, its values right after it, then its subkeys, one level
// deeper. The server's own table is made at build time from its
// registration script (the "REGISTRY" resource, which stays the one source
// of the entries), so registration parses nothing.
#pragma once

#include <cstddef>

#include "base/win32_types.h"

namespace korvane {

// How a key is treated when the server is registered and unregistered.
enum class KeyFlag : unsigned char {
    Unmarked,     // created when missing; removed at unregistration once empty
    ForceRemove,  // rewritten from scratch at registration, removed whole
    NoRemove,     // never removed
};

enum class RegistryRoot : unsigned char { ClassesRoot, CurrentUser, LocalMachine, Users };

inline HKEY RootKey(RegistryRoot root) noexcept {
    switch (root) {
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users: return HKEY_USERS;
    }
    return nullptr;
}

struct RegistryEntry {
    enum class Kind : unsigned char { Key, String, Dword };
    Kind kind;
    unsigned char depth;  // a key's level below its root: 0 directly under it
    KeyFlag flag;         // a key's
    RegistryRoot root;    // a key's
    const char* name;     // a key's name (one level), or a value's ("" for the default value)
    const char* text;     // a string value's data; null stands for the server's full path
    DWORD number;         // a DWORD value's data
};

// The entries of Korvane.dll, made from src/resources/korvane.rgs by
// src/resources/registry_table.py.
extern const RegistryEntry kServerRegistryEntries[];
extern const size_t kServerRegistryEntryCount;

}  // namespace korvane
