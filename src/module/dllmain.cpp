// The library's entry point.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "broker/broker_main.h"
#include "module/module_lifetime.h"

// The default terminate handler prints a demangled type name, which drags
// the whole demangler into a DLL that is loaded into every process that
// receives keyboard input. Nothing here should ever reach terminate; if
// something does, end as quietly as the default would.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// std::vector reports impossible sizes through these. The runtime's own
// versions live beside every other standard exception, which would bring
// std::string and its friends into the DLL (over a hundred kilobytes).
// Here they raise std::bad_alloc, which every boundary of the library
// already catches as running out of memory.
namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_length_error(const char*) { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
}  // namespace std

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    try {
        if (reason == DLL_PROCESS_ATTACH) return korvane::AttachProcess(instance);
        if (reason == DLL_PROCESS_DETACH) korvane::DetachProcess(reserved != nullptr);
    } catch (...) {
        // Nothing may escape into the loader. A failed attach refuses the
        // load; a failed detach has nothing left to do.
        return reason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
    }
    return TRUE;
}

// The library's private export for KorvaneBroker.exe: the broker's whole
// life, on the program's main thread.
extern "C" int WINAPI KorvaneBrokerMain() { return korvane::RunBroker(); }

// How many waits that could take time the library's attach made in this
// process: tests show with it that loading never waits for what another
// process holds.
extern "C" LONG WINAPI KorvaneAttachWaits() { return korvane::AttachWaits(); }
