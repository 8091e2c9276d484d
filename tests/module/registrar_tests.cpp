// The registrar against the real registry, on a key of the test's own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/registrar.h"
#include "module/registry_script.h"
#include "registry_dump.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::DeleteKeyTree;
using korvane::test::DumpKey;
using korvane::test::FailingRegistrar;
using korvane::test::KeyExists;
using korvane::test::ReadRawValue;

namespace {

constexpr char kTestKey[] = "Software\\Korvane Registrar Test";
constexpr char kShared[] = "Software\\Korvane Registrar Test\\Shared";
constexpr char kOwned[] = "Software\\Korvane Registrar Test\\Owned";
constexpr char kKept[] = "Software\\Korvane Registrar Test\\Kept";

constexpr char kScript[] = R"(
HKCU
{
    NoRemove Software
    {
        'Korvane Registrar Test'
        {
            Shared = s 'ours'
            {
                val Count = d '3'
                Leaf = s 'leaf'
            }
            ForceRemove Owned = s 'owned'
            {
                Inner { val Mode = s 'on' }
                ForceRemove Programmable
            }
            NoRemove Kept { val Name = s 'kept' }
        }
    }
}
)";

RegistryScript TestScript() {
    RegistryScript script;
    ParseRegistryScript(kScript, sizeof kScript - 1, nullptr, 0, &script);
    return script;
}

std::string Sz(const char* text) { return std::string(text, strlen(text) + 1); }

HKEY CreateKey(const std::string& path) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    return key;
}

void SetString(const std::string& path, const char* name, const char* text, DWORD type = REG_SZ) {
    HKEY key = CreateKey(path);
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(strlen(text) + 1));
    RegCloseKey(key);
}

void SetWide(const std::string& path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = CreateKey(path);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

// Content that is not the script's: values of several types under names
// and data outside the ANSI code page, and subkeys several levels deep.
void PlantForeignContent() {
    SetString(kShared, "", "old default", REG_EXPAND_SZ);
    const BYTE binary[] = {0, 1, 2, 0xFE};
    SetWide(kShared, L"Count", REG_BINARY, binary, sizeof binary);
    SetString(kShared, "Foreign", "theirs");
    SetString(std::string(kShared) + "\\Foreign", "", "theirs");
    SetString(kOwned, "Stale", "stale");
    const wchar_t multi[] = L"one\0\x4e2d\x6587\0";
    SetWide(std::string(kOwned) + "\\Deep\\Deeper", L"Gr\x00fc\x00df\x4e2d", REG_MULTI_SZ, multi,
            sizeof multi);
    SetWide(std::string(kOwned) + "\\Deep\\Deeper", L"", REG_SZ, L"\x4e2d", 4);
    const DWORD number = 0xCAFE;
    SetWide(std::string(kOwned) + "\\Deep", L"Number", REG_DWORD, &number, sizeof number);
}

class RegistrarTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_CURRENT_USER, kTestKey); }
    void TearDown() override { DeleteKeyTree(HKEY_CURRENT_USER, kTestKey); }
    RegistryScript script = TestScript();
    const std::vector<RegistryEntry> entries = ScriptEntries(script);
};

}  // namespace

TEST_F(RegistrarTest, RegisterWritesKeysAndTypedValues) {
    ASSERT_EQ(1u, script.roots.size());
    Registrar registrar;
    ASSERT_EQ(S_OK, registrar.Register(entries.data(), entries.size(), nullptr));

    auto value = ReadRawValue(HKEY_CURRENT_USER, kShared, "");
    EXPECT_EQ(REG_SZ, value.type);
    EXPECT_EQ(Sz("ours"), value.bytes);
    value = ReadRawValue(HKEY_CURRENT_USER, kShared, "Count");
    EXPECT_EQ(REG_DWORD, value.type);
    EXPECT_EQ(std::string("\3\0\0\0", 4), value.bytes);
    EXPECT_EQ(Sz("leaf"), ReadRawValue(HKEY_CURRENT_USER, std::string(kShared) + "\\Leaf", "").bytes);
    EXPECT_EQ(Sz("owned"), ReadRawValue(HKEY_CURRENT_USER, kOwned, "").bytes);
    EXPECT_EQ(Sz("on"), ReadRawValue(HKEY_CURRENT_USER, std::string(kOwned) + "\\Inner", "Mode").bytes);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::string(kOwned) + "\\Programmable"));
    EXPECT_EQ(Sz("kept"), ReadRawValue(HKEY_CURRENT_USER, kKept, "Name").bytes);
}

TEST_F(RegistrarTest, ForceRemoveKeysAreRewrittenAndOtherKeysKeepWhatIsNotOurs) {
    PlantForeignContent();
    Registrar registrar;
    ASSERT_EQ(S_OK, registrar.Register(entries.data(), entries.size(), nullptr));
    // Wiped: everything under the ForceRemove key that the script does not
    // write.
    EXPECT_FALSE(ReadRawValue(HKEY_CURRENT_USER, kOwned, "Stale").present);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::string(kOwned) + "\\Deep"));
    EXPECT_EQ(Sz("owned"), ReadRawValue(HKEY_CURRENT_USER, kOwned, "").bytes);
    // Kept: foreign values and subkeys of an unmarked key; ours overwritten.
    EXPECT_EQ(Sz("theirs"), ReadRawValue(HKEY_CURRENT_USER, kShared, "Foreign").bytes);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::string(kShared) + "\\Foreign"));
    EXPECT_EQ(REG_SZ, ReadRawValue(HKEY_CURRENT_USER, kShared, "").type);
    EXPECT_EQ(REG_DWORD, ReadRawValue(HKEY_CURRENT_USER, kShared, "Count").type);
}

TEST_F(RegistrarTest, UnregisterRemovesByTheFlags) {
    Registrar registrar;
    ASSERT_EQ(S_OK, registrar.Register(entries.data(), entries.size(), nullptr));
    SetString(std::string(kOwned) + "\\Inner\\Foreign", "", "theirs");
    SetString(kShared, "Foreign", "theirs");

    EXPECT_EQ(S_OK, registrar.Unregister(entries.data(), entries.size()));
    // ForceRemove: gone whole, foreign content and all.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kOwned));
    // Unmarked with a foreign value: our values go, the key stays for theirs.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kShared));
    EXPECT_FALSE(ReadRawValue(HKEY_CURRENT_USER, kShared, "").present);
    EXPECT_FALSE(ReadRawValue(HKEY_CURRENT_USER, kShared, "Count").present);
    EXPECT_EQ(Sz("theirs"), ReadRawValue(HKEY_CURRENT_USER, kShared, "Foreign").bytes);
    // Unmarked and left empty: gone.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::string(kShared) + "\\Leaf"));
    // NoRemove: stays, values included; so does its parent, which holds it.
    EXPECT_EQ(Sz("kept"), ReadRawValue(HKEY_CURRENT_USER, kKept, "Name").bytes);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTestKey));

    // Without the foreign value the unmarked key goes too.
    HKEY shared = CreateKey(kShared);
    RegDeleteValueA(shared, "Foreign");
    RegCloseKey(shared);
    EXPECT_EQ(S_OK, registrar.Unregister(entries.data(), entries.size()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kShared));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kKept));
}

TEST_F(RegistrarTest, UnregisteringWhatIsNotThereSucceedsAndCreatesNothing) {
    Registrar registrar;
    EXPECT_EQ(S_OK, registrar.Unregister(entries.data(), entries.size()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey));
}

TEST_F(RegistrarTest, UnregisterGoesOnPastAFailureAndReportsIt) {
    Registrar registrar;
    ASSERT_EQ(S_OK, registrar.Register(entries.data(), entries.size(), nullptr));
    FailingRegistrar failing(1);  // the first change is Leaf's default value
    EXPECT_EQ(E_ACCESSDENIED, failing.Unregister(entries.data(), entries.size()));
    const std::string leaf = std::string(kShared) + "\\Leaf";
    EXPECT_EQ(Sz("leaf"), ReadRawValue(HKEY_CURRENT_USER, leaf, "").bytes);
    EXPECT_FALSE(ReadRawValue(HKEY_CURRENT_USER, kShared, "").present);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kShared));  // still holds Leaf
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kOwned));
}

// Whichever change fails, the registry is as it was before the call, byte
// for byte: from an empty start, and from one full of foreign content that
// a ForceRemove had deleted and an overwrite had replaced.
TEST_F(RegistrarTest, AFailureAtAnyChangeLeavesTheRegistryAsItWas) {
    for (bool planted : {false, true}) {
        DeleteKeyTree(HKEY_CURRENT_USER, kTestKey);
        if (planted) PlantForeignContent();
        const std::string before = DumpKey(HKEY_CURRENT_USER, kTestKey);
        int failAt = 1;
        for (;; ++failAt) {
            FailingRegistrar registrar(failAt);
            const HRESULT result = registrar.Register(entries.data(), entries.size(), nullptr);
            if (registrar.changes < failAt) {
                EXPECT_EQ(S_OK, result);
                break;
            }
            EXPECT_EQ(E_ACCESSDENIED, result) << "change " << failAt;
            ASSERT_EQ(before, DumpKey(HKEY_CURRENT_USER, kTestKey))
                << "planted " << planted << ", change " << failAt;
        }
        EXPECT_GT(failAt, 10) << "planted " << planted;
        EXPECT_NE(before, DumpKey(HKEY_CURRENT_USER, kTestKey));
    }
}
