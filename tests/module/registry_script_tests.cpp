// The registration script parser, fed text directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "korvane_idl.h"
#include "module/registry_script.h"
#include "registration_ids.h"

using namespace korvane;

namespace {

constexpr char kModulePath[] = "C:\\Program Files\\Vantrell\\Korvane.dll";

ScriptError Parse(const std::string& text, RegistryScript* script, size_t* line = nullptr) {
    const ScriptReplacement replacements[] = {{"MODULE", kModulePath}};
    return ParseRegistryScript(text.data(), text.size(), replacements, 1, script, line);
}

ScriptError ParseOnly(const std::string& text) {
    RegistryScript script;
    return Parse(text, &script);
}

const char* HiveName(HKEY hive) {
    if (hive == HKEY_CLASSES_ROOT) return "HKCR";
    if (hive == HKEY_CURRENT_USER) return "HKCU";
    if (hive == HKEY_LOCAL_MACHINE) return "HKLM";
    if (hive == HKEY_USERS) return "HKU";
    return "?";
}

const char* FlagName(KeyFlag flag) {
    switch (flag) {
    case KeyFlag::ForceRemove: return " [ForceRemove]";
    case KeyFlag::NoRemove: return " [NoRemove]";
    default: return "";
    }
}

// One line per key ("path [flag]") and per value ("path @name = type:data",
// "@" alone for the default value), in script order.
void Flatten(const std::string& parent, const ScriptKey& key, std::vector<std::string>* lines) {
    const std::string path = parent + "\\" + key.name.c_str();
    lines->push_back(path + FlagName(key.flag));
    for (const ScriptValue& value : key.values) {
        std::string line = path + " @" + value.name.c_str() + " = ";
        line += value.type == REG_DWORD ? "d:" + std::to_string(value.number)
                                        : std::string("s:") + value.text.c_str();
        lines->push_back(line);
    }
    for (const ScriptKey& subkey : key.subkeys) Flatten(path, subkey, lines);
}

std::vector<std::string> Flatten(const RegistryScript& script) {
    std::vector<std::string> lines;
    for (const ScriptRoot& root : script.roots)
        for (const ScriptKey& key : root.keys) Flatten(HiveName(root.hive), key, &lines);
    return lines;
}

std::string GuidText(const GUID& guid) {
    wchar_t wide[64] = {};
    StringFromGUID2(guid, wide, 64);
    return std::string(wide, wide + wcslen(wide));
}

// One line per table entry, a string without text read as the module path.
std::vector<std::string> EntryLines(const RegistryEntry* entries, size_t count) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < count; ++i) {
        const RegistryEntry& e = entries[i];
        lines.push_back(std::to_string(int(e.kind)) + " " + std::to_string(e.depth) + " " +
                        std::to_string(int(e.flag)) + " " + std::to_string(int(e.root)) + " " +
                        e.name + " = " + (e.text ? e.text : kModulePath) + " " +
                        std::to_string(e.number));
    }
    return lines;
}

// The product's script, as the test program carries it among its resources.
std::string ProductScript() {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_REGISTRATION_SCRIPT), "REGISTRY");
    if (!resource) return std::string();
    const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, resource)));
    return std::string(data, SizeofResource(nullptr, resource));
}

}  // namespace

TEST(RegistryScript, ProductScriptDescribesExactlyTheServerEntries) {
    const std::string text = ProductScript();
    ASSERT_FALSE(text.empty());
    RegistryScript script;
    size_t line = 0;
    ASSERT_EQ(ScriptError::None, Parse(text, &script, &line)) << "line " << line;

    const std::string clsid = GuidText(CLSID_ViewSource);
    const std::string libid = GuidText(LIBID_KORVANELib);
    const std::string bho =
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
    const std::vector<std::string> expected = {
        "HKCR\\Korvane.ViewSource.1",
        "HKCR\\Korvane.ViewSource.1 @ = s:ViewSource Class",
        "HKCR\\Korvane.ViewSource.1\\CLSID",
        "HKCR\\Korvane.ViewSource.1\\CLSID @ = s:" + clsid,
        "HKCR\\Korvane.ViewSource",
        "HKCR\\Korvane.ViewSource @ = s:ViewSource Class",
        "HKCR\\Korvane.ViewSource\\CLSID",
        "HKCR\\Korvane.ViewSource\\CLSID @ = s:" + clsid,
        "HKCR\\Korvane.ViewSource\\CurVer",
        "HKCR\\Korvane.ViewSource\\CurVer @ = s:Korvane.ViewSource.1",
        "HKCR\\CLSID [NoRemove]",
        "HKCR\\CLSID\\" + clsid + " [ForceRemove]",
        "HKCR\\CLSID\\" + clsid + " @ = s:ViewSource Class",
        "HKCR\\CLSID\\" + clsid + "\\ProgID",
        "HKCR\\CLSID\\" + clsid + "\\ProgID @ = s:Korvane.ViewSource.1",
        "HKCR\\CLSID\\" + clsid + "\\VersionIndependentProgID",
        "HKCR\\CLSID\\" + clsid + "\\VersionIndependentProgID @ = s:Korvane.ViewSource",
        "HKCR\\CLSID\\" + clsid + "\\Programmable [ForceRemove]",
        "HKCR\\CLSID\\" + clsid + "\\InprocServer32",
        "HKCR\\CLSID\\" + clsid + "\\InprocServer32 @ = s:" + kModulePath,
        "HKCR\\CLSID\\" + clsid + "\\InprocServer32 @ThreadingModel = s:Apartment",
        "HKCR\\CLSID\\" + clsid + "\\TypeLib",
        "HKCR\\CLSID\\" + clsid + "\\TypeLib @ = s:" + libid,
        "HKCR\\CLSID\\" + clsid + "\\Implemented Categories",
        "HKCR\\CLSID\\" + clsid + "\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}",
        "HKLM\\SOFTWARE",
        "HKLM\\SOFTWARE\\Microsoft",
        "HKLM\\SOFTWARE\\Microsoft\\Windows",
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer",
        bho,
        bho + "\\" + clsid + " [ForceRemove]",
        bho + "\\" + clsid + " @ = s:Vantrell",
    };
    EXPECT_EQ(expected, Flatten(script));

    // The table the library registers from, made from the same script at
    // build time, says the same.
    const std::vector<RegistryEntry> parsed = ScriptEntries(script);
    EXPECT_EQ(EntryLines(parsed.data(), parsed.size()),
              EntryLines(kServerRegistryEntries, kServerRegistryEntryCount));
}

TEST(RegistryScript, FlagsAreKeywordsOnlyUnquotedAndInAnyCase) {
    RegistryScript script;
    ASSERT_EQ(ScriptError::None,
              Parse("hkcu { forceremove A NOREMOVE B C 'NoRemove' D\n"
                    "       NoRemove 'E F' { val 'val' = S 'x' VAL Y = D '1' } }",
                    &script));
    const std::vector<std::string> expected = {
        "HKCU\\A [ForceRemove]", "HKCU\\B [NoRemove]", "HKCU\\C", "HKCU\\NoRemove", "HKCU\\D",
        "HKCU\\E F [NoRemove]",  "HKCU\\E F @val = s:x", "HKCU\\E F @Y = d:1",
    };
    EXPECT_EQ(expected, Flatten(script));
}

TEST(RegistryScript, ClassIdentifiersInBracesAreNames) {
    RegistryScript script;
    ASSERT_EQ(ScriptError::None,
              Parse("HKCR { NoRemove CLSID { ForceRemove {D4C6FD64-4FC9-4069-A925-2A90D1E4D7E9} "
                    "= s 'x' { {inner} } } }",
                    &script));
    const std::vector<std::string> expected = {
        "HKCR\\CLSID [NoRemove]",
        "HKCR\\CLSID\\{D4C6FD64-4FC9-4069-A925-2A90D1E4D7E9} [ForceRemove]",
        "HKCR\\CLSID\\{D4C6FD64-4FC9-4069-A925-2A90D1E4D7E9} @ = s:x",
        "HKCR\\CLSID\\{D4C6FD64-4FC9-4069-A925-2A90D1E4D7E9}\\{inner}",
    };
    EXPECT_EQ(expected, Flatten(script));
}

TEST(RegistryScript, RootsByShortAndLongNameKeepTheirOrder) {
    RegistryScript script;
    ASSERT_EQ(ScriptError::None,
              Parse("HKEY_LOCAL_MACHINE { a } HKU { b } HKEY_CLASSES_ROOT { } HKCR { c }"
                    " HKEY_USERS { } HKEY_CURRENT_USER { d }",
                    &script));
    ASSERT_EQ(6u, script.roots.size());
    EXPECT_EQ(HKEY_LOCAL_MACHINE, script.roots[0].hive);
    EXPECT_EQ(HKEY_USERS, script.roots[1].hive);
    EXPECT_EQ(HKEY_CLASSES_ROOT, script.roots[2].hive);
    EXPECT_TRUE(script.roots[2].keys.empty());
    EXPECT_EQ(HKEY_CLASSES_ROOT, script.roots[3].hive);
    EXPECT_EQ(HKEY_USERS, script.roots[4].hive);
    EXPECT_EQ(HKEY_CURRENT_USER, script.roots[5].hive);
}

TEST(RegistryScript, NestingValuesAndDefaultValues) {
    RegistryScript script;
    ASSERT_EQ(ScriptError::None,
              Parse("HKCU { Top = s 'top' { Mid { val '' = s 'default too' Leaf = d '0x1F' { } }"
                    " Other = d '7' } }",
                    &script));
    const std::vector<std::string> expected = {
        "HKCU\\Top",
        "HKCU\\Top @ = s:top",
        "HKCU\\Top\\Mid",
        "HKCU\\Top\\Mid @ = s:default too",
        "HKCU\\Top\\Mid\\Leaf",
        "HKCU\\Top\\Mid\\Leaf @ = d:31",
        "HKCU\\Top\\Other",
        "HKCU\\Top\\Other @ = d:7",
    };
    EXPECT_EQ(expected, Flatten(script));
}

TEST(RegistryScript, NumbersAreDecimalOrHexAndFitThirtyTwoBits) {
    struct Case { const char* data; ScriptError error; DWORD value; };
    const Case cases[] = {
        {"0", ScriptError::None, 0},
        {"4294967295", ScriptError::None, 0xFFFFFFFFu},
        {"0xffffFFFF", ScriptError::None, 0xFFFFFFFFu},
        {"0X10", ScriptError::None, 16},
        {"007", ScriptError::None, 7},
        {"4294967296", ScriptError::BadNumber, 0},
        {"0x100000000", ScriptError::BadNumber, 0},
        {"-1", ScriptError::BadNumber, 0},
        {"0x", ScriptError::BadNumber, 0},
        {"", ScriptError::BadNumber, 0},
        {"12a", ScriptError::BadNumber, 0},
        {" 1", ScriptError::BadNumber, 0},
        {"99999999999999999999999", ScriptError::BadNumber, 0},
    };
    for (const Case& c : cases) {
        RegistryScript script;
        ASSERT_EQ(c.error, Parse(std::string("HKCU { k { val n = d '") + c.data + "' } }", &script))
            << c.data;
        if (c.error != ScriptError::None) continue;
        EXPECT_EQ(REG_DWORD, script.roots[0].keys[0].values[0].type);
        EXPECT_EQ(c.value, script.roots[0].keys[0].values[0].number) << c.data;
    }
}

TEST(RegistryScript, QuotesPercentSignsAndReplacements) {
    RegistryScript script;
    ASSERT_EQ(ScriptError::None,
              Parse("HKCU { 'It''s' = s 'say ''hi''' { val '100%%' = s '%MODULE%' }"
                    "       Path%%Key = s 'at %module% and %%MODULE%%' '''' = s '''' }",
                    &script));
    const std::vector<std::string> expected = {
        "HKCU\\It's",
        "HKCU\\It's @ = s:say 'hi'",
        std::string("HKCU\\It's @100% = s:") + kModulePath,
        "HKCU\\Path%Key",
        std::string("HKCU\\Path%Key @ = s:at ") + kModulePath + " and %MODULE%",
        "HKCU\\'",
        "HKCU\\' @ = s:'",
    };
    EXPECT_EQ(expected, Flatten(script));
}

TEST(RegistryScript, ReplacedTextIsTakenAsItIs) {
    // A path holding a quote or percent sign needs no escaping: replacement
    // happens after the quotes have been read.
    const ScriptReplacement replacements[] = {{"MODULE", "C:\\it's 100%\\K.dll"}};
    const std::string text = "HKCU { k = s '%MODULE%' }";
    RegistryScript script;
    ASSERT_EQ(ScriptError::None,
              ParseRegistryScript(text.data(), text.size(), replacements, 1, &script));
    EXPECT_STREQ("C:\\it's 100%\\K.dll", script.roots[0].keys[0].values[0].text.c_str());
    // As a key name the path would nest keys: refused.
    EXPECT_EQ(ScriptError::BadKeyName, Parse("HKCU { %MODULE% }", &script));
    EXPECT_EQ(ScriptError::BadReplacement, Parse("HKCU { k = s '%OTHER%' }", &script));
    EXPECT_EQ(ScriptError::BadReplacement, Parse("HKCU { k = s '50% off' }", &script));
    EXPECT_EQ(ScriptError::BadReplacement, Parse("HKCU { k = s 'end %' }", &script));
    EXPECT_EQ(ScriptError::BadReplacement, Parse("HKCU { k% }", &script));
}

TEST(RegistryScript, CommentsAndAnyWhitespaceAreSkipped) {
    RegistryScript script;
    ASSERT_EQ(ScriptError::None,
              Parse("// heading } ' {\r\n"
                    "HKCU\t{ // trailing comment 'with a quote\r\n"
                    "\v\fKey = s 'http://example.com/' // not part of the value\n"
                    "}\n// last line without a break",
                    &script));
    const std::vector<std::string> expected = {"HKCU\\Key", "HKCU\\Key @ = s:http://example.com/"};
    EXPECT_EQ(expected, Flatten(script));

    EXPECT_EQ(ScriptError::None, Parse("", &script));
    EXPECT_TRUE(script.roots.empty());
    EXPECT_EQ(ScriptError::None, Parse("  // nothing but a comment", &script));
    EXPECT_TRUE(script.roots.empty());
}

TEST(RegistryScript, MalformedScriptsAreRefusedWithTheirReason) {
    struct Case { std::string text; ScriptError error; };
    const Case cases[] = {
        {"HKCR", ScriptError::UnexpectedToken},
        {"HKCR {", ScriptError::UnexpectedEnd},
        {"HKCR { a {", ScriptError::UnexpectedEnd},
        {"HKCR { a { b { } }", ScriptError::UnexpectedEnd},
        {"HKCR { } }", ScriptError::UnexpectedToken},
        {"{ }", ScriptError::UnexpectedToken},
        {"= s 'x'", ScriptError::UnexpectedToken},
        {"HKXX { }", ScriptError::UnknownRoot},
        {"'HKCR' { }", ScriptError::UnknownRoot},
        {"HKCR { val x = s 'y' }", ScriptError::ValueOutsideKey},
        {"HKCR { a { val = s 'y' } }", ScriptError::UnexpectedToken},
        {"HKCR { a { val x s 'y' } }", ScriptError::UnexpectedToken},
        {"HKCR { a = }", ScriptError::UnexpectedToken},
        {"HKCR { a = s }", ScriptError::UnexpectedToken},
        {"HKCR { a = s x }", ScriptError::UnexpectedToken},
        {"HKCR { a = 'x' }", ScriptError::BadValueType},
        {"HKCR { a = e 'x' }", ScriptError::BadValueType},
        {"HKCR { a = b '00' }", ScriptError::BadValueType},
        {"HKCR { a = 's' 'x' }", ScriptError::BadValueType},
        {"HKCR { = s 'x' }", ScriptError::UnexpectedToken},
        {"HKCR { a = s 'x' = s 'y' }", ScriptError::UnexpectedToken},
        // A brace or '=' that touches a word is part of it, as in any .rgs.
        {"HKCU { Key{ } }", ScriptError::UnexpectedToken},
        {"HKCU { a = s 'x' }}", ScriptError::UnexpectedEnd},
        {"HKCR { NoRemove }", ScriptError::UnexpectedToken},
        {"HKCR { NoRemove ForceRemove a }", ScriptError::UnexpectedToken},
        {"HKCR { NoRemove { } }", ScriptError::UnexpectedToken},
        {"HKCR { '' }", ScriptError::BadKeyName},
        {"HKCR { 'a\\b' }", ScriptError::BadKeyName},
        {"HKCR { Software\\Classes }", ScriptError::BadKeyName},
        {"HKCR { Delete a }", ScriptError::Unsupported},
        {"HKCR { a = s 'x }", ScriptError::UnterminatedString},
        {"HKCR { a = s 'x\n' }", ScriptError::UnterminatedString},
        {"HKCR { a = s '", ScriptError::UnterminatedString},
        {std::string("HKCR { a\0b }", 12), ScriptError::InvalidCharacter},
        {std::string("HKCR { a = s 'x\0' }", 19), ScriptError::InvalidCharacter},
        {"HKCR { a\x01 }", ScriptError::InvalidCharacter},
        {"HKCR { \x7F }", ScriptError::InvalidCharacter},
        {"HKCR { a = s 'bell\x07' }", ScriptError::InvalidCharacter},
    };
    for (const Case& c : cases) {
        RegistryScript script;
        script.roots.push_back(ScriptRoot{});  // whatever was there is cleared
        EXPECT_EQ(c.error, Parse(c.text, &script)) << c.text;
        EXPECT_TRUE(script.roots.empty()) << c.text;
    }
}

TEST(RegistryScript, ErrorsNameTheirLine) {
    RegistryScript script;
    size_t line = 0;
    EXPECT_EQ(ScriptError::BadValueType, Parse("HKCR\n{\n  a = q 'x'\n}\n", &script, &line));
    EXPECT_EQ(3u, line);
    EXPECT_EQ(ScriptError::UnexpectedEnd, Parse("HKCR\r\n{\r\n  a\r\n", &script, &line));
    EXPECT_EQ(4u, line);
}

TEST(RegistryScript, SizeAndDepthAreBounded) {
    EXPECT_EQ(ScriptError::TooLarge, ParseOnly(std::string(kMaxScriptLength + 1, ' ')));
    EXPECT_EQ(ScriptError::None, ParseOnly(std::string(kMaxScriptLength, ' ')));

    const std::string longest(kMaxKeyNameLength, 'k');
    EXPECT_EQ(ScriptError::None, ParseOnly("HKCU { " + longest + " }"));
    EXPECT_EQ(ScriptError::TooLong, ParseOnly("HKCU { " + longest + "k }"));
    EXPECT_EQ(ScriptError::TooLong, ParseOnly("HKCU { k = s '" + std::string(20000, 'x') + "' }"));
    EXPECT_EQ(ScriptError::TooLong, ParseOnly("HKCU { " + std::string(20000, 'x') + " }"));
    // A replacement cannot push a value past the limit either.
    const std::string big(kMaxValueTextLength, 'v');
    const ScriptReplacement replacements[] = {{"BIG", big.c_str()}};
    RegistryScript script;
    const std::string twice = "HKCU { k = s '%BIG%%BIG%' }";
    EXPECT_EQ(ScriptError::TooLong,
              ParseRegistryScript(twice.data(), twice.size(), replacements, 1, &script));

    auto nested = [](int levels) {
        std::string text = "HKCU ";
        for (int i = 0; i < levels; ++i) text += "{ k ";
        text += "{ }";
        for (int i = 0; i < levels; ++i) text += " }";
        return text;
    };
    EXPECT_EQ(ScriptError::None, ParseOnly(nested(kMaxScriptDepth)));
    EXPECT_EQ(ScriptError::TooDeep, ParseOnly(nested(kMaxScriptDepth + 1)));
    EXPECT_EQ(ScriptError::TooDeep, ParseOnly(nested(10000)));
}

// Any prefix of the product's script is either a complete script (it ends
// after a root's closing brace) or refused; it never yields a half tree.
TEST(RegistryScript, EveryTruncationOfTheProductScriptIsCompleteOrRefused) {
    const std::string text = ProductScript();
    ASSERT_FALSE(text.empty());
    int complete = 0;
    for (size_t length = 0; length < text.size(); ++length) {
        RegistryScript script;
        const std::string prefix = text.substr(0, length);
        if (Parse(prefix, &script) != ScriptError::None) {
            EXPECT_TRUE(script.roots.empty());
            continue;
        }
        ++complete;
        const size_t last = prefix.find_last_not_of(" \t\r\n");
        const bool atRootEnd = script.roots.empty() || prefix[last] == '}' ||
                               prefix.rfind("//") > prefix.rfind('}');
        EXPECT_TRUE(atRootEnd) << length;
    }
    EXPECT_GT(complete, 0);
}

// Damaged copies of the script: every one is parsed to an answer, and a
// refusal leaves nothing behind.
TEST(RegistryScript, DamagedScriptsNeverCrashTheParser) {
    const std::string text = ProductScript();
    ASSERT_FALSE(text.empty());
    uint32_t state = 12345;
    auto next = [&state]() {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const char noise[] = "{}='%\\/\0\x01\x7F\x80 sdval";
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = text;
        const int edits = 1 + static_cast<int>(next() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = next() % damaged.size();
            switch (next() % 3) {
            case 0: damaged[at] = noise[next() % (sizeof noise - 1)]; break;
            case 1: damaged.erase(at, 1 + next() % 40); break;
            default: damaged.insert(at, damaged.substr(next() % damaged.size(), next() % 60)); break;
            }
            if (damaged.empty()) damaged = "x";
        }
        RegistryScript script;
        size_t line = 0;
        if (Parse(damaged, &script, &line) == ScriptError::None) continue;
        EXPECT_TRUE(script.roots.empty());
        EXPECT_GE(line, 1u);
    }
}
