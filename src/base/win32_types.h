// The few Win32 types and constants that plain rules take or return. On
// Windows they come from the system's headers; elsewhere (the native build
// of the rules, tests/native) they are defined here with the same widths
// and values, so a rule never needs a Windows header of its own.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdint>

typedef std::int32_t LONG;
typedef std::uint32_t DWORD;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;

struct HKEY__;
typedef HKEY__* HKEY;
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u)))

#define REG_SZ 1u
#define REG_DWORD 4u

#define HC_ACTION 0
#define HC_NOREMOVE 3
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_F8 0x77
#define VK_F9 0x78
#define VK_F10 0x79
#endif
