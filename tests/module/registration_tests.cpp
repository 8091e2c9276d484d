// Registration of the server for real: regsvr32 on a copy of Korvane.dll in
// a folder of the test's own, then the registry as COM and the browser read
// it; and, in this process, a registration that fails part-way.
#include <gtest/gtest.h>

#include <ocidl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "korvane_idl.h"
#include "module/com_server.h"
#include "registry_dump.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::DeleteKeyTree;
using korvane::test::DumpKey;
using korvane::test::FailingRegistrar;
using korvane::test::KeyExists;
using korvane::test::ReadRawValue;
using korvane::test::RunProcess;
using korvane::test::TempDirectory;

namespace {

using korvane::test::GuidText;

const std::string kClsid = GuidText(CLSID_ViewSource);
const std::string kLibid = GuidText(LIBID_KORVANELib);
const std::string kClassKey = "CLSID\\" + kClsid;
const std::string kHelperObjects = korvane::test::kHelperObjectsKey;
const std::string kHelperKey = kHelperObjects + "\\" + kClsid;
const std::string kOtherHelperKey = kHelperObjects + "\\{0A1B2C3D-0000-4000-8000-00000000BEEF}";

void Purge() { korvane::test::PurgeProductRegistration(); }

std::vector<std::string> Names(HKEY root, const std::string& path, bool subkeys) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD length = sizeof name;
        const LONG result =
            subkeys ? RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)
                    : RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

// A REG_SZ value with exactly this text and its terminator.
void ExpectString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& text) {
    const auto value = ReadRawValue(root, path, name);
    EXPECT_TRUE(value.present) << path << " @" << name;
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type) << path << " @" << name;
    EXPECT_EQ(text + '\0', value.bytes) << path << " @" << name;
}

using List = std::vector<std::string>;

void ExpectRegisteredAt(const std::string& modulePath) {
    const HKEY cr = HKEY_CLASSES_ROOT;
    ExpectString(cr, "Korvane.ViewSource.1", "", "ViewSource Class");
    ExpectString(cr, "Korvane.ViewSource.1\\CLSID", "", kClsid);
    EXPECT_EQ(List{"CLSID"}, Names(cr, "Korvane.ViewSource.1", true));
    EXPECT_EQ(List{""}, Names(cr, "Korvane.ViewSource.1", false));
    ExpectString(cr, "Korvane.ViewSource", "", "ViewSource Class");
    ExpectString(cr, "Korvane.ViewSource\\CLSID", "", kClsid);
    ExpectString(cr, "Korvane.ViewSource\\CurVer", "", "Korvane.ViewSource.1");
    EXPECT_EQ((List{"CLSID", "CurVer"}), Names(cr, "Korvane.ViewSource", true));

    ExpectString(cr, kClassKey, "", "ViewSource Class");
    EXPECT_EQ(List{""}, Names(cr, kClassKey, false));
    EXPECT_EQ((List{"Implemented Categories", "InprocServer32", "ProgID", "Programmable", "TypeLib",
                    "VersionIndependentProgID"}),
              Names(cr, kClassKey, true));
    // CATID_AppContainerCompatible, without which Enhanced Protected Mode
    // loads no helper.
    EXPECT_EQ(List{"{59FB2056-D625-48D0-A944-1A85B5AB2640}"},
              Names(cr, kClassKey + "\\Implemented Categories", true));
    ExpectString(cr, kClassKey + "\\ProgID", "", "Korvane.ViewSource.1");
    ExpectString(cr, kClassKey + "\\VersionIndependentProgID", "", "Korvane.ViewSource");
    EXPECT_TRUE(KeyExists(cr, kClassKey + "\\Programmable"));
    EXPECT_EQ(List{}, Names(cr, kClassKey + "\\Programmable", false));
    EXPECT_EQ(List{}, Names(cr, kClassKey + "\\Programmable", true));
    ExpectString(cr, kClassKey + "\\InprocServer32", "", modulePath);
    ExpectString(cr, kClassKey + "\\InprocServer32", "ThreadingModel", "Apartment");
    EXPECT_EQ((List{"", "ThreadingModel"}), Names(cr, kClassKey + "\\InprocServer32", false));
    ExpectString(cr, kClassKey + "\\TypeLib", "", kLibid);

    ExpectString(HKEY_LOCAL_MACHINE, kHelperKey, "", "Vantrell");
    EXPECT_EQ(List{""}, Names(HKEY_LOCAL_MACHINE, kHelperKey, false));
    EXPECT_EQ(List{}, Names(HKEY_LOCAL_MACHINE, kHelperKey, true));
}

void ExpectTypeLibraryRegisteredAt(const std::string& file, const std::string& helpDirectory) {
    const std::string version = "TypeLib\\" + kLibid + "\\1.0";
    ExpectString(HKEY_CLASSES_ROOT, version, "", "Korvane 1.0 Type Library");
    // Under the system the library is built for, in the view of its bitness.
    ExpectString(HKEY_CLASSES_ROOT, version + (sizeof(void*) == 8 ? "\\409\\win64" : "\\409\\win32"), "",
                 file);
    // Wine writes the flag its loader adds (LIBFLAG_FHASDISKIMAGE, 8) into
    // FLAGS; Windows writes the library's own flags.
    ExpectString(HKEY_CLASSES_ROOT, version + "\\FLAGS", "", test::RunningOnWine() ? "8" : "0");
    const auto help = ReadRawValue(HKEY_CLASSES_ROOT, version + "\\HELPDIR", "");
    EXPECT_TRUE(help.present);
    // The folder, with or without its final backslash.
    std::string helpText = help.bytes.substr(0, help.bytes.find('\0'));
    if (!helpText.empty() && helpText.back() != '\\') helpText += '\\';
    EXPECT_EQ(helpDirectory, helpText);
    const std::string iface = "Interface\\" + GuidText(IID_IViewSource);
    ExpectString(HKEY_CLASSES_ROOT, iface, "", "IViewSource");
    ExpectString(HKEY_CLASSES_ROOT, iface + "\\TypeLib", "", kLibid);
}

void ExpectNothingRegistered() {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Korvane.ViewSource.1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Korvane.ViewSource"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + kLibid));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Interface\\" + GuidText(IID_IViewSource)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
}

void Plant(HKEY root, const std::string& path, const char* name, const char* text) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(strlen(text) + 1));
    RegCloseKey(key);
}

class Regsvr32 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<TempDirectory>();
        copy = folder->File("Korvane.dll");
        ASSERT_TRUE(CopyFileA(test::KorvaneDllPath().c_str(), copy.c_str(), FALSE));
        helperObjectsExisted = KeyExists(HKEY_LOCAL_MACHINE, kHelperObjects);
    }
    static void TearDownTestSuite() {
        Run("/u /s", copy);
        Purge();
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kOtherHelperKey);
        if (!helperObjectsExisted) DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects);
        folder.reset();
    }
    void SetUp() override { Purge(); }

    static int Run(const std::string& options, const std::string& path) {
        return RunProcess("regsvr32.exe " + options + " \"" + path + "\"");
    }

    static std::unique_ptr<TempDirectory> folder;
    static std::string copy;
    static bool helperObjectsExisted;
};

std::unique_ptr<TempDirectory> Regsvr32::folder;
std::string Regsvr32::copy;
bool Regsvr32::helperObjectsExisted = false;

}  // namespace

TEST_F(Regsvr32, RegistersExactlyTheServerEntriesAndTheTypeLibrary) {
    ASSERT_EQ(0, Run("/s", copy));
    ExpectRegisteredAt(copy);
    ExpectTypeLibraryRegisteredAt(copy, folder->path());
}

TEST_F(Regsvr32, RegisteringAgainRewritesTheForceRemoveKeysFromScratch) {
    ASSERT_EQ(0, Run("/s", copy));
    Plant(HKEY_CLASSES_ROOT, kClassKey + "\\Planted", "", "stale");
    Plant(HKEY_CLASSES_ROOT, kClassKey, "Planted", "stale");
    Plant(HKEY_LOCAL_MACHINE, kHelperKey + "\\Planted", "", "stale");
    Plant(HKEY_LOCAL_MACHINE, kHelperKey, "Planted", "stale");
    ASSERT_EQ(0, Run("/s", copy));
    ExpectRegisteredAt(copy);  // exact sets of keys and values: nothing planted survives
    ExpectTypeLibraryRegisteredAt(copy, folder->path());
}

TEST_F(Regsvr32, UnregisteringKeepsSharedKeysThatHoldOtherEntries) {
    ASSERT_EQ(0, Run("/s", copy));
    Plant(HKEY_LOCAL_MACHINE, kOtherHelperKey, "", "Another Helper");
    ASSERT_EQ(0, Run("/u /s", copy));
    ExpectNothingRegistered();
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_FALSE(Names(HKEY_CLASSES_ROOT, "CLSID", true).empty());
    ExpectString(HKEY_LOCAL_MACHINE, kOtherHelperKey, "", "Another Helper");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer"));

    // Once nothing else is left in it, the helper objects' key goes too
    // (unless it was there before this program touched it).
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kOtherHelperKey);
    ASSERT_EQ(0, Run("/s", copy));
    ASSERT_EQ(0, Run("/u /s", copy));
    if (!helperObjectsExisted) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperObjects));
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer"));

    // Unregistering what is not registered succeeds.
    EXPECT_EQ(0, Run("/u /s", copy));
}

TEST_F(Regsvr32, ComCreatesTheHelperFromTheRegisteredCopy) {
    ASSERT_EQ(0, Run("/s", copy));
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IObjectWithSite* helper = nullptr;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ViewSource, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IObjectWithSite, reinterpret_cast<void**>(&helper)));
    EXPECT_NE(nullptr, GetModuleHandleA(copy.c_str()));
    if (helper) {
        EXPECT_EQ(0u, helper->Release());
    }
    CoUninitialize();
}

// When the library's embedded type library cannot be loaded, the one in the
// .tlb file beside it is registered; with neither, registration fails.
TEST_F(Regsvr32, TypeLibraryComesFromTheTlbFileWhenTheLibrarysOwnIsUnusable) {
    TempDirectory damaged;
    const std::string path = damaged.File("Korvane.dll");
    ASSERT_TRUE(CopyFileA(test::KorvaneDllPath().c_str(), path.c_str(), FALSE));
    // Overwritten rather than removed: Wine's UpdateResource does not remove.
    char junk[] = "not a type library at all";
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    ASSERT_NE(nullptr, update);
    ASSERT_TRUE(UpdateResourceA(update, "TYPELIB", MAKEINTRESOURCEA(1),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), junk, sizeof junk));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));

    EXPECT_NE(0, Run("/s", path));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + kLibid));

    const std::string tlb = damaged.File("Korvane.tlb");
    ASSERT_TRUE(CopyFileA((test::BuildDirectory() + "generated\\korvane.tlb").c_str(), tlb.c_str(),
                          FALSE));
    ASSERT_EQ(0, Run("/s", path));
    ExpectRegisteredAt(path);
    ExpectTypeLibraryRegisteredAt(tlb, damaged.path());
    ASSERT_EQ(0, Run("/u /s", path));
    ExpectNothingRegistered();
}

// This program carries the product's resources, so the server's own
// registration runs here against the real registry, with a registrar that
// fails its Nth change: whatever N, nothing is left half-written.
TEST(ServerRegistration, AFailureAtAnyChangeLeavesTheRegistryAsItWas) {
    Purge();
    const bool helperObjectsExisted = KeyExists(HKEY_LOCAL_MACHINE, kHelperObjects);
    const HMODULE self = GetModuleHandleA(nullptr);
    auto picture = [] {
        return DumpKey(HKEY_CLASSES_ROOT, "Korvane.ViewSource.1") +
               DumpKey(HKEY_CLASSES_ROOT, "Korvane.ViewSource") + DumpKey(HKEY_CLASSES_ROOT, kClassKey) +
               DumpKey(HKEY_CLASSES_ROOT, "TypeLib\\" + kLibid) +
               DumpKey(HKEY_LOCAL_MACHINE, kHelperObjects);
    };
    for (bool registeredBefore : {false, true}) {
        Purge();
        if (registeredBefore) {
            Registrar registrar;
            ASSERT_EQ(S_OK, RegisterServer(self, registrar));
            Plant(HKEY_CLASSES_ROOT, kClassKey + "\\Planted\\Deeper", "", "stale");
            Plant(HKEY_CLASSES_ROOT, "Korvane.ViewSource", "Foreign", "theirs");
            Plant(HKEY_LOCAL_MACHINE, kHelperKey, "Planted", "stale");
            Plant(HKEY_LOCAL_MACHINE, kOtherHelperKey, "", "Another Helper");
        }
        const std::string before = picture();
        int failAt = 1;
        for (;; ++failAt) {
            FailingRegistrar registrar(failAt);
            const HRESULT result = RegisterServer(self, registrar);
            if (registrar.changes < failAt) {
                EXPECT_EQ(S_OK, result);
                break;
            }
            EXPECT_EQ(E_ACCESSDENIED, result) << "change " << failAt;
            ASSERT_EQ(before, picture()) << "registered before " << registeredBefore << ", change "
                                         << failAt;
        }
        EXPECT_GE(failAt, 20);
        Registrar registrar;
        EXPECT_EQ(S_OK, UnregisterServer(self, registrar));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kOtherHelperKey);
    }
    Purge();
    if (!helperObjectsExisted) DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects);
}
