// The broker: one program per user and logon session, at medium integrity,
// that does for every browser process what Protected Mode forbids a
// browser (docs/design.md): it owns the keyboard hook, the tray icon with
// its menu and dialogs, every write of the user's settings and white list,
// and the session's log of blocked popups, which the browsers feed through
// the channel (channel/broker_channel.h).
//
// KorvaneBroker.exe loads the library and calls its export
// KorvaneBrokerMain, which runs RunBroker until the broker ends: its window
// is closed (setup), or the tray menu's Exit switches the blocker off.
#pragma once

#include <windows.h>

namespace korvane {

// Exit codes of the broker.
constexpr int kBrokerEnded = 0;          // ended, or another broker runs
constexpr int kBrokerBelowMedium = 4;    // started at low integrity: of no use
constexpr int kBrokerNoChannel = 5;      // its pipe could not be made

int RunBroker() noexcept;

}  // namespace korvane
