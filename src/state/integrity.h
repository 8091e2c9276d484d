// Where the process stands among Windows' integrity levels. A browser in
// Protected Mode runs its pages, and Korvane with them, at low integrity:
// Windows then lets it write almost nothing of the user's, hook no program
// of higher integrity and send such programs no message. Such a process
// leaves all of that to the broker (broker/broker_main.h).
#pragma once

#include <windows.h>

namespace korvane {

// Wine has no integrity levels. A process whose environment holds this
// variable with the value "1" acts as at low integrity all the same: it
// never writes, never sets a hook and never shows an icon itself. Tests use
// it to stand for a browser in Protected Mode. The broker ignores it: the
// broker runs at medium integrity, or not at all.
constexpr char kLowIntegrityVariable[] = "KORVANE_LOW_INTEGRITY";

// The relative identifier of the medium mandatory level (S-1-16-8192).
constexpr DWORD kMediumIntegrityRid = 0x2000;

// Below medium: low (S-1-16-4096) and untrusted. A token whose level
// cannot be read (Windows before Vista) knows no levels, and is not low.
inline bool IntegrityBelowMedium(bool levelKnown, DWORD rid) noexcept {
    return levelKnown && rid < kMediumIntegrityRid;
}

// The seam's value: exactly "1".
inline bool SeamAsksForLowIntegrity(const char* value) noexcept {
    return value && value[0] == '1' && value[1] == '\0';
}

// Reads the process token's level, and the seam unless ignoreSeam; at
// attach, once.
void DetermineIntegrity(bool ignoreSeam) noexcept;

// What DetermineIntegrity found; false before it ran.
bool ActsAtLowIntegrity() noexcept;

// Whether this process is the broker (KorvaneBroker.exe), as attach found
// from the program's name.
void SetProcessIsBroker(bool broker) noexcept;
bool ProcessIsBroker() noexcept;

// The level of the process token: false, with *rid untouched, where the
// system has none (before Vista) or it cannot be read.
bool ProcessIntegrityRid(DWORD* rid) noexcept;

}  // namespace korvane
