// What the browser processes tell the broker, as bytes, and the names under
// which they find it. Plain functions of bytes and strings: the broker reads
// every message from a process it cannot trust (a page's code may run in
// any browser process), so the parser is built natively and fuzzed too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

// A message is one write into the broker's pipe: a header of 8 bytes,
// little-endian, then the payload.
//   0  uint16  version, kBrokerMessageVersion
//   2  uint16  kind, a BrokerMessageKind
//   4  uint32  payload length, which must be exactly what follows
constexpr size_t kBrokerHeaderSize = 8;
constexpr uint16_t kBrokerMessageVersion = 1;

// The longest address the browser takes, and so the longest a message
// carries: a longer one is cut by its sender (at a character boundary),
// and one that arrives longer is not read at all.
constexpr size_t kLongestBrokerAddress = 2083;
constexpr size_t kLongestBrokerMessage = kBrokerHeaderSize + kLongestBrokerAddress;

enum class BrokerMessageKind : uint16_t {
    // A popup was blocked: the payload is its address, without a NUL, as
    // the process's log keeps it. The broker logs it and announces it.
    PopupBlocked = 1,
    // The hot keys pressed in another process, which leaves the switches to
    // the broker (a low one may not write them): the broker switches them
    // as its own hook would. No payload.
    // F10: popup blocking off or on; the icon shows it.
    ToggleBlocking = 2,
    // F8: the icon hidden or shown; "Tray Icon" stored.
    ToggleTrayIcon = 3,
    // F9: the block's sound off or on.
    ToggleSound = 4,
};

// A message the broker accepted. The address points into the bytes it was
// parsed from, and is not terminated.
struct BrokerMessage {
    BrokerMessageKind kind = BrokerMessageKind::PopupBlocked;
    const char* address = nullptr;
    size_t addressLength = 0;
};

// True, filling *message, only for a well-formed message: the version
// known, the kind known, the length field exactly the payload's, and the
// payload what its kind allows (none, or an address of at most
// kLongestBrokerAddress bytes without a NUL). Anything else is ignored.
bool ParseBrokerMessage(const unsigned char* data, size_t size, BrokerMessage* message) noexcept;

// Writes the message into buffer; returns its size, or 0 when it would not
// be accepted (an address where the kind takes none, or one too long or
// holding a NUL) or the buffer is too small.
size_t FormatBrokerMessage(BrokerMessageKind kind, const char* address, size_t addressLength,
                           unsigned char* buffer, size_t size) noexcept;

// The pipe's name: "\\.\pipe\Korvane.Broker.<user SID>.<session>". Pipes
// are not kept apart by logon session as named objects are, so the name
// carries the session, and the user. <session> is "Session<id>" for the
// session's own namespace prefix "Local\", and "Local.<name>" for a prefix
// "Local\<name>" that a test chose to stand for another session (see
// kSessionPrefixVariable). False, with an empty result, when the parts are
// missing or the name does not fit size bytes with its terminator.
bool BrokerPipeName(const char* userSid, unsigned long sessionId, const char* sessionPrefix,
                    char* name, size_t size) noexcept;

// Whether an elevation policy's values (AppName, AppPath, Policy) let
// Protected Mode start the broker program in folder silently at medium
// integrity: the program's name and the folder (with or without its last
// backslash), compared without regard to the case of ASCII letters, and
// Policy 3. Any other folder, or a name that differs otherwise, is not ours.
bool ElevationPolicyStartsSilently(const char* appName, const char* appPath, unsigned long policy,
                                   const char* folder) noexcept;

// Whether a program's path names the broker's program, "KorvaneBroker.exe"
// in any letter case, in any folder: the library, loaded there, leaves the
// hook and the icon to the broker's own start rather than its attach.
bool IsBrokerProgramPath(const char* executablePath) noexcept;

}  // namespace korvane
