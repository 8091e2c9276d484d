// A Windows DLL that the library needs only now and then, loaded the first
// time it is needed, and only from the system folder.
//
// Korvane.dll is loaded into every program that receives keyboard input,
// and COM loads it with its own folder searched first for the DLLs it
// imports. A DLL it imported by name that Windows does not always take from
// the system folder (one missing from the "known DLLs", such as winmm) could
// then be a file that someone put beside it, and would run in all those
// programs. So such DLLs are not imported: they are loaded here by their
// full path in the system folder, with that folder searched first for their
// own imports too. Loading them when first needed also keeps their cost out
// of every program that never plays a sound or opens a file dialog; the
// shell, a known DLL but a large one, is loaded here for that reason alone.
#pragma once

#include <windows.h>

namespace korvane {

class SystemLibrary {
public:
    // fileName is the DLL's file name, such as "winmm.dll"; it must outlive
    // the object (a literal). Nothing is loaded until Function is called.
    explicit constexpr SystemLibrary(const char* fileName) noexcept : fileName_(fileName) {}
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    // The named function of the DLL, loading the DLL if it is not loaded yet;
    // null when the DLL cannot be loaded or lacks the function. Callers do
    // without what it would have done: no sound, no dialog. Safe to call from
    // any thread; a load that fails is tried again at the next call.
    template <typename Function>
    Function Find(const char* name) noexcept {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(FindAddress(name)));
    }

private:
    FARPROC FindAddress(const char* name) noexcept;
    HMODULE Load() noexcept;

    const char* fileName_;
    // Kept until the process ends, never freed: Korvane.dll itself stays
    // until then, and a DLL must not be freed from inside an entry point.
    HMODULE volatile module_ = nullptr;
};

// The full path of fileName in the system folder, into path (size bytes).
// False when it does not fit.
bool SystemFolderPath(const char* fileName, char* path, size_t size) noexcept;

}  // namespace korvane
