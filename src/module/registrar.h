// Writes a table of registry entries to the registry, and takes it off
// again.
#pragma once

#include <windows.h>

#include <cstddef>

#include "module/registry_entries.h"

namespace korvane {

class RegistrationPass;

class Registrar {
public:
    Registrar() = default;
    virtual ~Registrar() = default;
    Registrar(const Registrar&) = delete;
    Registrar& operator=(const Registrar&) = delete;

    // Writes the table's keys and values, in table order; a string value
    // without text gets modulePath. A ForceRemove key is deleted with
    // everything below it before it is written; other keys are created
    // when missing and otherwise kept with whatever else they hold. All or
    // nothing: when a change fails, every change this call made is undone
    // (keys it created are deleted, values it overwrote get their old type
    // and data back, keys a ForceRemove deleted come back with their values
    // and subkeys) and the failure is returned. Restoring is best effort;
    // security settings and class names of a deleted key are not restored.
    HRESULT Register(const RegistryEntry* entries, size_t count, const char* modulePath) noexcept;

    // Removes what the table describes: a ForceRemove key whole; from an
    // unmarked key the values the table names, then the key itself once it
    // has neither subkeys nor values left; a NoRemove key never, and its
    // values stay. Keys already gone are no failure. Goes on past a failure
    // and returns the first one.
    HRESULT Unregister(const RegistryEntry* entries, size_t count) noexcept;

protected:
    // Called before each change to the registry; a result other than
    // ERROR_SUCCESS makes that change fail with this error. Undoing a failed
    // registration never passes here.
    virtual LONG BeforeChange() noexcept { return ERROR_SUCCESS; }

private:
    friend class RegistrationPass;
};

}  // namespace korvane
