// Korvane.dll installed for a benchmark that blocks: neither the icon's
// flash nor the sound is part of what is timed.
#pragma once

#include <cstdio>

#include "support/installed_korvane.h"

namespace bench {

// False, with the reason printed, when the library could not be installed.
inline bool InstallQuietly(korvane::test::InstalledKorvane& korvane) {
    if (!korvane.ok()) {
        std::printf("Korvane.dll could not be installed: %s\n", korvane.Failure().c_str());
        return false;
    }
    korvane.Shared().flashOn = 0;
    korvane.Shared().soundOn = 0;
    return true;
}

}  // namespace bench
