// korvane_frame_host.exe: the frame windows of the IE7 and IE8 profiles, in
// a process of their own as IE8's loosely coupled frame is (IE7's are
// here too: see frame_host.h). The session that starts it
// passes its process id; the host prints its control window's handle on a
// line of its own and serves the session (browser/frame_host.h) until it is
// told to quit or the session's process ends.
//
//   korvane_frame_host.exe <session process id>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "browser/frame_host.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvane_frame_host <session process id>\n");
        return 2;
    }
    HANDLE session = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
    if (!session) return 1;
    const int result = standin::RunFrameHost(session, [](HWND control) {
        std::printf("%lu\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(control)));
        std::fflush(stdout);
    });
    CloseHandle(session);
    return result;
}
