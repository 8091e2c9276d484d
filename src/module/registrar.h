// Applies a registration script to the registry, and takes it off again.
#pragma once

#include <windows.h>

#include "module/registry_script.h"

namespace korvane {

class RegistrationPass;

class Registrar {
public:
    Registrar() = default;
    virtual ~Registrar() = default;
    Registrar(const Registrar&) = delete;
    Registrar& operator=(const Registrar&) = delete;

    // Writes the script's keys and values, root by root in script order.
    // A ForceRemove key is deleted with everything below it before it is
    // written; other keys are created when missing and otherwise kept with
    // whatever else they hold. All or nothing: when a change fails, every
    // change this call made is undone (keys it created are deleted, values it
    // overwrote get their old type and data back, keys a ForceRemove deleted
    // come back with their values and subkeys) and the failure is returned.
    // Restoring is best effort; security settings and class names of a
    // deleted key are not restored.
    HRESULT Register(const RegistryScript& script) noexcept;

    // Removes what the script describes: a ForceRemove key whole; from an
    // unmarked key the values the script names, then the key itself once it
    // has neither subkeys nor values left; a NoRemove key never, and its
    // values stay. Keys already gone are no failure. Goes on past a failure
    // and returns the first one.
    HRESULT Unregister(const RegistryScript& script) noexcept;

protected:
    // Called before each change to the registry; a result other than
    // ERROR_SUCCESS makes that change fail with this error. Undoing a failed
    // registration never passes here.
    virtual LONG BeforeChange() noexcept { return ERROR_SUCCESS; }

private:
    friend class RegistrationPass;
};

// The registration script of module: its resource "REGISTRY"
// IDR_REGISTRATION_SCRIPT, parsed with %MODULE% replaced by module's full
// path.
HRESULT LoadRegistrationScript(HMODULE module, RegistryScript* script) noexcept;

// Loads module's registration script and registers or unregisters it.
HRESULT UpdateRegistryFromResource(HMODULE module, bool registering, Registrar& registrar) noexcept;

}  // namespace korvane
