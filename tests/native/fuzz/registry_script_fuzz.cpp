// The registration script parser on any text. What it accepts must keep
// within the registry's limits, and must read back the same when written
// out again as a script: printing quotes every name and value, so a parse
// that mistakes a quote, a percent sign, a keyword or a brace for something
// else gives a different tree the second time.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "module/registry_script.h"

using namespace korvane;

namespace {

const ScriptReplacement kReplacements[] = {
    {"MODULE", "C:\\Program Files\\Vantrell\\Korvane.dll"},
    {"Percent", "100%"},
    {"Quote", "it's"},
};

std::string Text(const AnsiString& text) { return std::string(text.c_str(), text.length()); }

std::string Quoted(const AnsiString& text) {
    std::string out = "'";
    for (size_t i = 0; i < text.length(); ++i) {
        const char c = text.c_str()[i];
        if (c == '\'') out += "''";
        else if (c == '%') out += "%%";
        else out.push_back(c);
    }
    return out + "'";
}

const char* HiveName(HKEY hive) {
    if (hive == HKEY_CLASSES_ROOT) return "HKCR";
    if (hive == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (hive == HKEY_LOCAL_MACHINE) return "hklm";
    if (hive == HKEY_USERS) return "HKU";
    return nullptr;
}

void PrintKey(const ScriptKey& key, std::string& out) {
    if (key.flag == KeyFlag::ForceRemove) out += "ForceRemove ";
    if (key.flag == KeyFlag::NoRemove) out += "noremove ";
    out += Quoted(key.name) + " {\n";
    for (const ScriptValue& value : key.values) {
        out += "val " + Quoted(value.name) + " = ";
        out += value.type == REG_DWORD ? "d '" + std::to_string(value.number) + "'\n"
                                       : "s " + Quoted(value.text) + "\n";
    }
    for (const ScriptKey& subkey : key.subkeys) PrintKey(subkey, out);
    out += "}\n";
}

std::string Print(const RegistryScript& script) {
    std::string out;
    for (const ScriptRoot& root : script.roots) {
        out += std::string(HiveName(root.hive)) + " {\n";
        for (const ScriptKey& key : root.keys) PrintKey(key, out);
        out += "}\n";
    }
    return out;
}

// The limits every accepted script keeps; returns the deepest level.
int CheckKey(const ScriptKey& key, int depth) {
    FUZZ_CHECK(!key.name.empty() && !std::strchr(key.name.c_str(), '\\') &&
                   key.name.length() <= kMaxKeyNameLength &&
                   key.name.length() == std::strlen(key.name.c_str()),
               "key name %s", fuzz::Show(Text(key.name)).c_str());
    for (const ScriptValue& value : key.values) {
        FUZZ_CHECK(value.type == REG_SZ || value.type == REG_DWORD, "value type %u",
                   static_cast<unsigned>(value.type));
        FUZZ_CHECK(value.name.length() <= kMaxValueNameLength &&
                       value.text.length() <= kMaxValueTextLength,
                   "value %s too long", fuzz::Show(Text(value.name)).c_str());
    }
    int deepest = depth;
    for (const ScriptKey& subkey : key.subkeys) {
        const int reached = CheckKey(subkey, depth + 1);
        if (reached > deepest) deepest = reached;
    }
    return deepest;
}

bool SameKey(const ScriptKey& a, const ScriptKey& b) {
    if (Text(a.name) != Text(b.name) || a.flag != b.flag) return false;
    if (a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()) return false;
    for (size_t i = 0; i < a.values.size(); ++i) {
        const ScriptValue& x = a.values[i];
        const ScriptValue& y = b.values[i];
        if (Text(x.name) != Text(y.name) || x.type != y.type) return false;
        if (x.type == REG_DWORD ? x.number != y.number : Text(x.text) != Text(y.text)) return false;
    }
    for (size_t i = 0; i < a.subkeys.size(); ++i)
        if (!SameKey(a.subkeys[i], b.subkeys[i])) return false;
    return true;
}

bool SameScript(const RegistryScript& a, const RegistryScript& b) {
    if (a.roots.size() != b.roots.size()) return false;
    for (size_t i = 0; i < a.roots.size(); ++i) {
        if (a.roots[i].hive != b.roots[i].hive) return false;
        if (a.roots[i].keys.size() != b.roots[i].keys.size()) return false;
        for (size_t k = 0; k < a.roots[i].keys.size(); ++k)
            if (!SameKey(a.roots[i].keys[k], b.roots[i].keys[k])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    RegistryScript script;
    size_t line = 12345;
    const ScriptError error = ParseRegistryScript(text, size, kReplacements, 3, &script, &line);
    if (error != ScriptError::None) {
        size_t lines = 1;
        for (size_t i = 0; i < size; ++i) lines += text[i] == '\n';
        FUZZ_CHECK(script.roots.empty(), "a failed parse left a tree");
        FUZZ_CHECK(error == ScriptError::TooLarge || error == ScriptError::OutOfMemory ||
                       (line >= 1 && line <= lines),
                   "error %d on line %zu of %zu", static_cast<int>(error), line, lines);
        return 0;
    }
    FUZZ_CHECK(line == 0, "line %zu after success", line);
    for (const ScriptRoot& root : script.roots) {
        FUZZ_CHECK(HiveName(root.hive) != nullptr, "unknown hive");
        for (const ScriptKey& key : root.keys)
            FUZZ_CHECK(CheckKey(key, 1) <= kMaxScriptDepth, "keys nested too deep");
    }

    const std::string printed = Print(script);
    if (printed.size() > kMaxScriptLength) return 0;
    RegistryScript again;
    const ScriptError reread =
        ParseRegistryScript(printed.data(), printed.size(), kReplacements, 3, &again, &line);
    FUZZ_CHECK(reread == ScriptError::None, "printed script refused (error %d, line %zu):\n%s",
               static_cast<int>(reread), line, printed.c_str());
    FUZZ_CHECK(SameScript(script, again), "printed script reads differently:\n%s",
               printed.c_str());
    return 0;
}
