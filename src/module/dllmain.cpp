// The library's entry point.
#include <windows.h>

#include <cstdlib>

#include "module/shared_state.h"

// The default terminate handler prints a demangled type name, which drags
// the whole demangler into a DLL that is loaded into every process that
// receives keyboard input. Nothing here should ever reach terminate; if
// something does, end as quietly as the default would.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        korvane::moduleInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
