#include "channel/channel_rules.h"

#include <cstring>

namespace korvane {
namespace {

uint16_t ReadWord(const unsigned char* at) noexcept {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t ReadLong(const unsigned char* at) noexcept {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

void WriteWord(unsigned char* at, uint16_t value) noexcept {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void WriteLong(unsigned char* at, uint32_t value) noexcept {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Whether a kind carries an address, and whether it is known at all.
bool KnownKind(uint16_t kind, bool* takesAddress) noexcept {
    switch (static_cast<BrokerMessageKind>(kind)) {
        case BrokerMessageKind::PopupBlocked:
            *takesAddress = true;
            return true;
        case BrokerMessageKind::ToggleBlocking:
        case BrokerMessageKind::ToggleTrayIcon:
        case BrokerMessageKind::ToggleSound:
            *takesAddress = false;
            return true;
    }
    return false;
}

bool AddressAllowed(const char* address, size_t length) noexcept {
    if (length > kLongestBrokerAddress) return false;
    return length == 0 || (address && !std::memchr(address, '\0', length));
}

// A SID in its text form ("S-1-5-21-..."): letters, digits and hyphens.
bool PlainSidText(const char* text) noexcept {
    if (!text || !*text) return false;
    for (const char* c = text; *c; ++c) {
        const bool plain = (*c >= '0' && *c <= '9') || (*c >= 'A' && *c <= 'Z') ||
                           (*c >= 'a' && *c <= 'z') || *c == '-';
        if (!plain) return false;
    }
    return true;
}

}  // namespace

bool ParseBrokerMessage(const unsigned char* data, size_t size, BrokerMessage* message) noexcept {
    if (!data || !message || size < kBrokerHeaderSize || size > kLongestBrokerMessage) return false;
    if (ReadWord(data) != kBrokerMessageVersion) return false;
    const uint16_t kind = ReadWord(data + 2);
    bool takesAddress = false;
    if (!KnownKind(kind, &takesAddress)) return false;
    const uint32_t length = ReadLong(data + 4);
    if (length != size - kBrokerHeaderSize) return false;
    if (!takesAddress && length != 0) return false;
    const char* address = reinterpret_cast<const char*>(data + kBrokerHeaderSize);
    if (!AddressAllowed(address, length)) return false;
    message->kind = static_cast<BrokerMessageKind>(kind);
    message->address = takesAddress ? address : nullptr;
    message->addressLength = takesAddress ? length : 0;
    return true;
}

size_t FormatBrokerMessage(BrokerMessageKind kind, const char* address, size_t addressLength,
                           unsigned char* buffer, size_t size) noexcept {
    bool takesAddress = false;
    if (!buffer || !KnownKind(static_cast<uint16_t>(kind), &takesAddress)) return 0;
    if (!takesAddress && addressLength != 0) return 0;
    if (!AddressAllowed(address, addressLength)) return 0;
    const size_t total = kBrokerHeaderSize + addressLength;
    if (size < total) return 0;
    WriteWord(buffer, kBrokerMessageVersion);
    WriteWord(buffer + 2, static_cast<uint16_t>(kind));
    WriteLong(buffer + 4, static_cast<uint32_t>(addressLength));
    if (addressLength) std::memcpy(buffer + kBrokerHeaderSize, address, addressLength);
    return total;
}

bool BrokerPipeName(const char* userSid, unsigned long sessionId, const char* sessionPrefix,
                    char* name, size_t size) noexcept {
    if (!name || size == 0) return false;
    name[0] = '\0';
    if (!PlainSidText(userSid) || !sessionPrefix) return false;
    static const char kLocal[] = "Local\\";
    const size_t localLength = sizeof kLocal - 1;
    if (std::strncmp(sessionPrefix, kLocal, localLength) != 0) return false;
    const char* own = sessionPrefix + localLength;
    for (const char* c = own; *c; ++c)
        if (*c == '\\' || static_cast<unsigned char>(*c) < 0x20) return false;
    char session[16];
    size_t digits = 0;
    do {
        session[sizeof session - 1 - digits++] = static_cast<char>('0' + sessionId % 10);
        sessionId /= 10;
    } while (sessionId != 0);
    const char* pieces[] = {"\\\\.\\pipe\\Korvane.Broker.", userSid, *own ? ".Local." : ".Session", own};
    size_t length = 0;
    auto append = [&](const char* text, size_t count) {
        if (length + count >= size) return false;
        std::memcpy(name + length, text, count);
        length += count;
        return true;
    };
    bool fits = true;
    for (const char* piece : pieces) fits = fits && append(piece, std::strlen(piece));
    if (!*own) fits = fits && append(session + sizeof session - digits, digits);
    if (!fits) {
        name[0] = '\0';
        return false;
    }
    name[length] = '\0';
    return true;
}

namespace {

char FoldAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The first length bytes of a and b, ASCII letters in either case.
bool SameAscii(const char* a, const char* b, size_t length) noexcept {
    for (size_t i = 0; i < length; ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

size_t WithoutLastBackslash(const char* path) noexcept {
    size_t length = std::strlen(path);
    if (length > 0 && path[length - 1] == '\\') --length;
    return length;
}

constexpr char kBrokerProgram[] = "KorvaneBroker.exe";

}  // namespace

bool ElevationPolicyStartsSilently(const char* appName, const char* appPath, unsigned long policy,
                                   const char* folder) noexcept {
    if (!appName || !appPath || !folder || policy != 3) return false;
    const size_t program = sizeof kBrokerProgram - 1;
    if (std::strlen(appName) != program || !SameAscii(appName, kBrokerProgram, program)) return false;
    const size_t length = WithoutLastBackslash(appPath);
    return length > 0 && length == WithoutLastBackslash(folder) && SameAscii(appPath, folder, length);
}

bool IsBrokerProgramPath(const char* executablePath) noexcept {
    if (!executablePath) return false;
    const char* name = executablePath;
    for (const char* c = executablePath; *c; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    const size_t program = sizeof kBrokerProgram - 1;
    return std::strlen(name) == program && SameAscii(name, kBrokerProgram, program);
}

}  // namespace korvane
