// The registration script: the registry entries of the COM server written as
// text in the familiar .rgs form, and its parser. Parsing is a pure function
// of the text; nothing here touches the registry. The library itself
// carries its entries as a table made from its script at build time
// (registry_entries.h); the parser reads scripts for the tests, which hold
// that table to the script.
//
//   HKCR                                     root: HKCR, HKCU, HKLM, HKU or
//   {                                        their HKEY_... long names
//       NoRemove CLSID                       key with a flag
//       {
//           ForceRemove {...} = s 'Text'     key with its default value
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'   named value
//                   val Count = d '0x10'                 REG_DWORD
//               }
//           }
//       }
//   }
//
// Tokens are separated by whitespace, braces and '=' included, so a class
// identifier in braces is a name like any other word. Names are single
// words or quoted ('Browser Helper Objects'); inside quotes '' stands for
// one quote. %NAME% is replaced by the value given for NAME and
// %% stands for one percent sign, quoted or not. // starts a comment that
// runs to the end of the line. Keywords (ForceRemove, NoRemove, val, s, d
// and the roots) are matched without regard to case and only when unquoted.
#pragma once

#include <cstddef>
#include <vector>

#include "base/narrow_string.h"
#include "base/win32_types.h"
#include "module/registry_entries.h"

namespace korvane {

struct ScriptValue {
    AnsiString name;      // empty: the key's default value
    DWORD type = REG_SZ;  // REG_SZ or REG_DWORD
    AnsiString text;      // the data of a REG_SZ value
    DWORD number = 0;     // the data of a REG_DWORD value
};

struct ScriptKey {
    AnsiString name;  // one level: never empty, never holds a backslash
    KeyFlag flag = KeyFlag::Unmarked;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
    HKEY hive = nullptr;  // one of the predefined keys
    std::vector<ScriptKey> keys;
};

struct RegistryScript {
    std::vector<ScriptRoot> roots;
};

struct ScriptReplacement {
    const char* name;   // without the percent signs, e.g. "MODULE"
    const char* value;
};

enum class ScriptError {
    None,
    TooLarge,             // the text is longer than kMaxScriptLength
    InvalidCharacter,     // a control character or NUL outside whitespace
    UnterminatedString,   // a quote that is never closed
    BadReplacement,       // %NAME% with an unknown NAME, or a lone %
    TooLong,              // a name or a value over its registry limit
    UnknownRoot,          // a root other than the predefined keys
    UnexpectedToken,      // a token the grammar does not allow here
    UnexpectedEnd,        // the text ends inside a block (unbalanced braces)
    BadKeyName,           // an empty key name, or one holding a backslash
    BadValueType,         // a value type other than s or d
    BadNumber,            // d data that is not a 32-bit number
    ValueOutsideKey,      // val directly under a root
    Unsupported,          // a keyword of the form this parser does not handle
    TooDeep,              // keys nested deeper than kMaxScriptDepth
    OutOfMemory,
};

constexpr size_t kMaxScriptLength = 64 * 1024;
constexpr int kMaxScriptDepth = 32;
// The registry's own limits, in characters.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr size_t kMaxValueTextLength = 16383;

// Parses length bytes of text (NUL bytes are not allowed inside). On success
// returns ScriptError::None and stores the tree in *script; otherwise returns
// the error, leaves *script empty and, when errorLine is given, stores the
// 1-based line where the error was found. Never throws.
ScriptError ParseRegistryScript(const char* text, size_t length,
                                const ScriptReplacement* replacements, size_t replacementCount,
                                RegistryScript* script, size_t* errorLine = nullptr) noexcept;

// The script as a table for Registrar, in the script's order. The entries
// point into script's strings: script must outlive them.
std::vector<RegistryEntry> ScriptEntries(const RegistryScript& script);

}  // namespace korvane
