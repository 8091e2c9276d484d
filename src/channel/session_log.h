// The session's log of blocked popups: every browser process of the session
// that blocks a popup writes its address into a block of memory the session
// shares, besides telling the broker. A broker that starts later (the first,
// or one that replaces a killed one) finds there what was blocked while
// none ran; the browsers keep the block while they live.
//
// Any process of the user may write the block, Protected Mode's included,
// so the broker reads it as it reads the pipe: each entry bounded, and one
// caught half-written skipped. Only a process at medium integrity or above
// makes it (the broker, at its start), so that a low one cannot make it
// first with a list of its own.
#pragma once

#include <windows.h>

#include <vector>

#include "base/ansi_string.h"

namespace korvane {

constexpr char kSessionLogName[] = "Korvane.SessionLog";
// As many as the log shows.
constexpr DWORD kSessionLogSlots = 99;

// Adds an address, cut as the log keeps it. Never waits on anyone: a slot is
// claimed with one interlocked increment. False when the block cannot be
// had: the address is then kept (the last kSessionLogSlots of them) until
// a later write or FlushSessionLog finds it.
bool WriteToSessionLog(const char* address) noexcept;
// Writes what was kept, once the block can be had, and tells the broker;
// at a browser event once a broker runs.
void FlushSessionLog() noexcept;

// The entries written after *cursor, oldest first (at most the last
// kSessionLogSlots of them), and *cursor moved past them. A new cursor of 0
// reads everything the block holds.
void ReadSessionLog(DWORD* cursor, std::vector<AnsiString>* entries);

}  // namespace korvane
