// KorvaneSetup.exe and its uninstaller, run for real in this prefix: the
// product goes into Program Files and registers itself, and each case checks
// what Windows and its users see afterwards (files, registry, COM, queued
// restart operations, exit codes, the setup log). Every case starts from a
// machine without the product and leaves it so.
//
// The program also serves as two helpers of its own cases, run as child
// processes so that this process never has the installed library loaded:
//   --hold <dll> <ready-event> <release-event>   keeps the library loaded
//   --create-helper <dll>                        creates the helper through COM
#include <gtest/gtest.h>

#include <aclapi.h>
#include <ocidl.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "korvane_idl.h"
#include "support/test_support.h"

using korvane::test::ChildProcess;
using korvane::test::DeleteKeyTree;
using korvane::test::FileExists;
using korvane::test::KeyExists;
using korvane::test::ReadFileBytes;
using korvane::test::ReadRawValue;
using korvane::test::RemoveTree;
using korvane::test::RunningOnWine;
using korvane::test::RunProcess;
using korvane::test::TempDirectory;
using korvane::test::WriteFileBytes;

namespace {

// Exit codes of setup and the uninstaller.
constexpr int kDone = 0;
constexpr int kFailed = 2;
constexpr int kRestartNeeded = 3010;

using korvane::test::GuidText;

const std::string kClsid = GuidText(CLSID_ViewSource);
const std::string kLibid = GuidText(LIBID_KORVANELib);
const std::string kClassKey = "CLSID\\" + kClsid;
const std::string kHelperObjects = korvane::test::kHelperObjectsKey;
const std::string kHelperKey = kHelperObjects + "\\" + kClsid;
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantrell";
const std::string kRunOnceKey = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kElevationKey =
    "Software\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\"
    "{9113C1F3-A190-4D31-8D36-7E2B3B7FDD41}";
const std::string kSessionManager = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingOperations[] = "PendingFileRenameOperations";
// Wine reads per-program DLL switches here; "" switches a DLL off.
const std::string kRegsvr32Defaults = "Software\\Wine\\AppDefaults\\regsvr32.exe";
const std::string kRegsvr32Overrides = kRegsvr32Defaults + "\\DllOverrides";

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

const std::string kFolder = ShellFolder(CSIDL_PROGRAM_FILES) + "\\Vantrell";
std::string Installed(const std::string& name) { return kFolder + "\\" + name; }
// The white list's own folder, which no program of ours is in.
const std::string kDataFolder = ShellFolder(CSIDL_COMMON_APPDATA) + "\\Vantrell";
std::string Data(const std::string& name) { return kDataFolder + "\\" + name; }
const std::string kLibrary = Installed("Korvane.dll");
const std::string kBroker = Installed("KorvaneBroker.exe");

// The folder of the 32-bit system programs: SysWOW64 on 64-bit Windows.
std::string SystemFolder32() {
    char path[MAX_PATH] = {};
    if (!GetSystemWow64DirectoryA(path, sizeof path)) GetSystemDirectoryA(path, sizeof path);
    return path;
}

std::string SetupPath() { return korvane::test::BuildDirectory() + "KorvaneSetup.exe"; }

using korvane::test::BrokerProcess;
using korvane::test::WaitForBroker;

// Ends every broker on this desktop, as a restart of Windows or a test's
// clean-up would, with the program this build made.
void StopBrokers() {
    RunProcess("\"" + korvane::test::BuildDirectory() + "broker\\KorvaneBroker.exe\" /stop", 60000);
}

std::string ThisProgram() {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

std::string LogPath() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "Vantrell Setup.log";
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// A setup that finished leaves the broker starting: it is waited for, so
// that what a case does next meets it running.
int RunSetup(const std::string& switches = "/S") {
    const int code = RunProcess("\"" + SetupPath() + "\" " + switches, 120000);
    if (code == kDone || code == kRestartNeeded) WaitForBroker();
    return code;
}

// The uninstaller copies itself away and returns at once unless it is told
// its folder with "_?=" (unquoted, last); run that way it cannot delete its
// own file, so a copy runs, as the uninstaller itself would do.
std::string CopyOfUninstaller(const TempDirectory& folder) {
    const std::string copy = folder.File("Uninstall.exe");
    CopyFileA(Installed("Uninstall.exe").c_str(), copy.c_str(), FALSE);
    return copy;
}

int RunUninstaller(const std::string& switches = "/S") {
    TempDirectory folder;
    const std::string copy = CopyOfUninstaller(folder);
    if (!FileExists(copy)) return -1;
    return RunProcess("\"" + copy + "\" " + switches + " _?=" + kFolder, 120000);
}

std::vector<std::string> FolderContents(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void SetStringValue(HKEY root, const std::string& path, const std::string& name,
                    const std::string& text) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

void DeleteValue(HKEY root, const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}

// The restart operations Windows has queued: pairs of source and target,
// with the target empty for a deletion and marked "!" when it replaces.
using Operations = std::vector<std::pair<std::string, std::string>>;

Operations PendingOperations() {
    Operations operations;
    const auto value = ReadRawValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingOperations);
    if (!value.present) return operations;
    std::vector<std::string> strings;
    size_t start = 0;
    while (start < value.bytes.size()) {
        const size_t end = value.bytes.find('\0', start);
        if (end == std::string::npos) break;
        strings.push_back(value.bytes.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i].empty()) break;
        operations.emplace_back(strings[i], strings[i + 1]);
    }
    return operations;
}

bool Queued(const Operations& operations, const std::string& source, const std::string& target) {
    for (const auto& operation : operations) {
        if (SameText(operation.first, source) && SameText(operation.second, target)) return true;
    }
    return false;
}

std::string NtName(const std::string& path) { return "\\??\\" + path; }

// A REG_SZ value with exactly this text and its terminator.
void ExpectString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& text) {
    const auto value = ReadRawValue(root, path, name);
    EXPECT_TRUE(value.present) << path << " @" << name;
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type) << path << " @" << name;
    EXPECT_EQ(text + '\0', value.bytes) << path << " @" << name;
}

DWORD ExpectDword(HKEY root, const std::string& path, const std::string& name) {
    const auto value = ReadRawValue(root, path, name);
    EXPECT_TRUE(value.present) << path << " @" << name;
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value.type) << path << " @" << name;
    DWORD number = 0;
    if (value.bytes.size() == sizeof number) memcpy(&number, value.bytes.data(), sizeof number);
    return number;
}

// The broker's elevation policy: in this program's view, and on 64-bit
// Windows in the 64-bit one too, where a 64-bit browser frame reads it.
void ExpectBrokerAllowed() {
    std::vector<REGSAM> views = {0};
    if (korvane::test::RunningUnderWow64()) views.push_back(KEY_WOW64_64KEY);
    for (REGSAM view : views) {
        const auto name = ReadRawValue(HKEY_LOCAL_MACHINE, kElevationKey, "AppName", view);
        const auto path = ReadRawValue(HKEY_LOCAL_MACHINE, kElevationKey, "AppPath", view);
        const auto policy = ReadRawValue(HKEY_LOCAL_MACHINE, kElevationKey, "Policy", view);
        EXPECT_EQ(std::string("KorvaneBroker.exe") + '\0', name.bytes) << view;
        EXPECT_EQ(kFolder + '\0', path.bytes) << view;
        EXPECT_EQ(std::string("\3\0\0\0", 4), policy.bytes) << view;
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), policy.type) << view;
    }
    ExpectString(HKEY_LOCAL_MACHINE, kRunKey, "Vantrell", "\"" + kBroker + "\"");
}

void ExpectRegisteredAt(const std::string& library) {
    ExpectString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "", library);
    ExpectString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "ThreadingModel", "Apartment");
    ExpectString(HKEY_CLASSES_ROOT, "Korvane.ViewSource\\CLSID", "", kClsid);
    ExpectString(HKEY_CLASSES_ROOT, "TypeLib\\" + kLibid + "\\1.0\\409\\win32", "", library);
    ExpectString(HKEY_LOCAL_MACHINE, kHelperKey, "", "Vantrell");
}

void ExpectNothingRegistered() {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Korvane.ViewSource.1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Korvane.ViewSource"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + kLibid));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Interface\\" + GuidText(IID_IViewSource)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(ReadRawValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "Vantrell").present);
    EXPECT_FALSE(ReadRawValue(HKEY_LOCAL_MACHINE, kRunKey, "Vantrell").present);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kElevationKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kElevationKey, KEY_WOW64_64KEY));
}

// On 64-bit Windows, installed or not, the 32-bit library's class, browser
// helper entry and Add or Remove Programs entry are never in the view of
// 64-bit programs: a 64-bit browser, which cannot load it, is not told of it.
void ExpectNothingIn64BitView() {
    if (!korvane::test::RunningUnderWow64()) return;
    const std::pair<HKEY, std::string> keys[] = {
        {HKEY_CLASSES_ROOT, kClassKey}, {HKEY_LOCAL_MACHINE, kHelperKey}, {HKEY_LOCAL_MACHINE, kUninstallKey}};
    for (const auto& [root, key] : keys) EXPECT_FALSE(KeyExists(root, key, KEY_WOW64_64KEY)) << key;
}

void ExpectListedInAddRemovePrograms() {
    const HKEY lm = HKEY_LOCAL_MACHINE;
    ExpectString(lm, kUninstallKey, "DisplayName", "Vantrell");
    ExpectString(lm, kUninstallKey, "DisplayVersion", "1.52");
    ExpectString(lm, kUninstallKey, "Publisher", "Vantrell");
    ExpectString(lm, kUninstallKey, "InstallLocation", kFolder);
    ExpectString(lm, kUninstallKey, "UninstallString", "\"" + Installed("Uninstall.exe") + "\"");
    ExpectString(lm, kUninstallKey, "QuietUninstallString",
                 "\"" + Installed("Uninstall.exe") + "\" /S");
    ExpectString(lm, kUninstallKey, "DisplayIcon", kLibrary + ",0");
    EXPECT_EQ(1u, ExpectDword(lm, kUninstallKey, "NoModify"));
    EXPECT_EQ(1u, ExpectDword(lm, kUninstallKey, "NoRepair"));
    // Kilobytes of what the folder holds, once a library waiting for the
    // restart has replaced the one in place.
    size_t files = 0;
    for (const std::string& name : FolderContents(kFolder)) {
        if (FileExists(Installed(name) + ".new")) continue;
        files += ReadFileBytes(Installed(name)).size();
    }
    const DWORD size = ExpectDword(lm, kUninstallKey, "EstimatedSize");
    EXPECT_GE(size, files / 1024);
    EXPECT_LE(size, files / 1024 + 16);
}

void ExpectInstalled() {
    EXPECT_EQ(ReadFileBytes(korvane::test::KorvaneDllPath()), ReadFileBytes(kLibrary));
    EXPECT_TRUE(FileExists(Installed("Uninstall.exe")));
    EXPECT_FALSE(FileExists(Installed("Korvane.dll.new")));
    EXPECT_EQ(ReadFileBytes(korvane::test::BuildDirectory() + "broker\\KorvaneBroker.exe"),
              ReadFileBytes(kBroker));
    ExpectRegisteredAt(kLibrary);
    ExpectBrokerAllowed();
    ExpectListedInAddRemovePrograms();
    ExpectNothingIn64BitView();
}

// The rights of BUILTIN\Users in a file's or folder's list.
struct UsersRights {
    bool protectedList = false;
    ACCESS_MASK onItself = 0;       // effective on the object itself
    ACCESS_MASK onNewFiles = 0;     // handed down to files created inside
};

UsersRights RightsOfUsers(const std::string& path) {
    UsersRights rights;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return rights;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    rights.protectedList = (control & SE_DACL_PROTECTED) != 0;
    PSID users = nullptr;
    ConvertStringSidToSidA("BU", &users);
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (!EqualSid(&ace->SidStart, users)) continue;
        if (!(header->AceFlags & INHERIT_ONLY_ACE)) rights.onItself |= ace->Mask;
        if (header->AceFlags & OBJECT_INHERIT_ACE) rights.onNewFiles |= ace->Mask;
    }
    LocalFree(users);
    LocalFree(descriptor);
    return rights;
}

// Every file of ours that runs or is loaded lies in a folder only
// administrators may change; users may save the white list in its own
// folder, which holds no program; and setup ran nothing elevated from a
// folder users could write.
void ExpectOnlyTheWhiteListsFolderOpenToUsers() {
    const std::string log = ReadFileBytes(LogPath());
    EXPECT_TRUE(Contains(log, "Stopped the broker on this desktop with "));
    EXPECT_FALSE(Contains(log, "Stopped the broker on this desktop with " + kFolder));
    if (RunningOnWine()) {
        // Wine keeps no security descriptors for files: it turns a new list
        // into Unix permission bits and makes one up from them when asked.
        // Setup's calls succeed there, which its log shows; the lists
        // themselves are checked on Windows.
        EXPECT_TRUE(Contains(log, "Only administrators may change " + kFolder + "."));
        EXPECT_TRUE(Contains(log, "Users may save the white list in " + kDataFolder + "."));
        return;
    }
    const ACCESS_MASK change = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
    for (const char* name : {"Korvane.dll", "KorvaneBroker.exe", "Uninstall.exe"}) {
        const UsersRights file = RightsOfUsers(Installed(name));
        EXPECT_TRUE(file.protectedList) << name;
        EXPECT_EQ(0u, file.onItself & change) << name;
        EXPECT_NE(0u, file.onItself & FILE_EXECUTE) << name;
    }
    const UsersRights folder = RightsOfUsers(kFolder);
    EXPECT_EQ(0u, folder.onItself & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD));
    const UsersRights data = RightsOfUsers(kDataFolder);
    EXPECT_TRUE(data.protectedList);
    EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_ADD_FILE | FILE_DELETE_CHILD),
              data.onItself & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | WRITE_DAC));
    EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_WRITE_DATA | DELETE), data.onNewFiles & (FILE_WRITE_DATA | DELETE));
}

// Keeps the installed library loaded in another process, as the browser or
// a program the keyboard hook reached would.
class LibraryHolder {
public:
    explicit LibraryHolder(const std::string& library)
        : ready_(Name("ready")), release_(Name("release")),
          readyEvent_(CreateEventA(nullptr, TRUE, FALSE, ready_.c_str())),
          releaseEvent_(CreateEventA(nullptr, TRUE, FALSE, release_.c_str())),
          child_(std::make_unique<ChildProcess>("\"" + ThisProgram() + "\" --hold \"" + library +
                                                "\" " + ready_ + " " + release_)) {}
    ~LibraryHolder() {
        Release();
        CloseHandle(readyEvent_);
        CloseHandle(releaseEvent_);
    }
    bool Holding() { return WaitForSingleObject(readyEvent_, 30000) == WAIT_OBJECT_0; }
    // Lets go of the library; true when the holder ended normally.
    bool Release() {
        if (!child_) return false;
        SetEvent(releaseEvent_);
        const int code = child_->Wait(30000);
        child_.reset();
        return code == 0;
    }

private:
    static std::string Name(const char* what) {
        static int count = 0;
        char name[96];
        snprintf(name, sizeof name, "KorvaneInstallerTest-%lu-%d-%s",
                 static_cast<unsigned long>(GetCurrentProcessId()), ++count, what);
        return name;
    }
    std::string ready_;
    std::string release_;
    HANDLE readyEvent_;
    HANDLE releaseEvent_;
    std::unique_ptr<ChildProcess> child_;
};

// Wine's restart: wineboot carries out the queued file operations and then
// runs what waits under RunOnce, as Windows does at the next start and
// logon. A test cannot restart Windows itself.
bool CanRestart() { return RunningOnWine(); }
bool Restart() { return RunProcess("wineboot.exe -r", 120000) == 0; }
// And Wine's logon: wineboot without a switch runs what waits under Run,
// as Windows does when a user logs on.
bool Logon() { return RunProcess("wineboot.exe", 120000) == 0; }

class Installer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        helperObjectsExisted = KeyExists(HKEY_LOCAL_MACHINE, kHelperObjects);
        defaultsExisted = KeyExists(HKEY_CURRENT_USER, kRegsvr32Defaults);
        overridesExisted = KeyExists(HKEY_CURRENT_USER, kRegsvr32Overrides);
        pendingBefore = ReadRawValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingOperations);
    }
    static void TearDownTestSuite() {
        if (!helperObjectsExisted) DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects);
    }
    void SetUp() override {
        ASSERT_TRUE(FileExists(SetupPath())) << SetupPath();
        Purge();
        DeleteFileA(LogPath().c_str());
    }
    void TearDown() override {
        if (HasFailure()) std::printf("setup log:\n%s\n", ReadFileBytes(LogPath()).c_str());
        DeleteFileA(LogPath().c_str());
        Purge();
    }

    // Everything an installation, a failed one or one waiting for a restart
    // can leave behind.
    static void Purge() {
        StopBrokers();
        DeleteValue(HKEY_CURRENT_USER, kRegsvr32Overrides, "korvane");
        if (!overridesExisted) DeleteKeyTree(HKEY_CURRENT_USER, kRegsvr32Overrides);
        if (!defaultsExisted) DeleteKeyTree(HKEY_CURRENT_USER, kRegsvr32Defaults);
        if (FileExists(kLibrary)) RunProcess("regsvr32.exe /u /s \"" + kLibrary + "\"");
        RemoveTree(kFolder);
        RemoveTree(kDataFolder);
        korvane::test::PurgeProductRegistration();
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "Vantrell");
        DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, "Vantrell");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kElevationKey);
        if (korvane::test::RunningUnderWow64()) {
            using DeleteKeyEx = LONG(WINAPI*)(HKEY, const char*, REGSAM, DWORD);
            if (auto deleteKey = reinterpret_cast<DeleteKeyEx>(reinterpret_cast<void*>(
                    GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA"))))
                deleteKey(HKEY_LOCAL_MACHINE, kElevationKey.c_str(), KEY_WOW64_64KEY, 0);
        }
        RestorePendingOperations();
    }

    static void RestorePendingOperations() {
        if (!pendingBefore.present) {
            DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingOperations);
            return;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager.c_str(), 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            return;
        RegSetValueExA(key, kPendingOperations, 0, pendingBefore.type,
                       reinterpret_cast<const BYTE*>(pendingBefore.bytes.data()),
                       static_cast<DWORD>(pendingBefore.bytes.size()));
        RegCloseKey(key);
    }

    // A restart would also carry out what others queued before this program.
    static bool MayRestart() { return CanRestart() && !pendingBefore.present; }

    static bool helperObjectsExisted;
    static bool defaultsExisted;
    static bool overridesExisted;
    static korvane::test::RawValue pendingBefore;
};

bool Installer::helperObjectsExisted = false;
bool Installer::defaultsExisted = false;
bool Installer::overridesExisted = false;
korvane::test::RawValue Installer::pendingBefore;

// A file a user left where setup writes: a hard link to a file of the
// user's own. Setup must delete it and write a new file, whose list of who
// may do what is then setup's; writing into it would keep the user's list.
// Wine keeps no such lists for files, so the link shows the difference:
// anything written into the planted file appears in the user's own.
class PlantedFile {
public:
    explicit PlantedFile(const std::string& path) {
        CreateDirectoryA(kFolder.c_str(), nullptr);
        EXPECT_TRUE(WriteFileBytes(own_.File("mine"), kOwnText));
        EXPECT_TRUE(CreateHardLinkA(path.c_str(), own_.File("mine").c_str(), nullptr)) << path;
    }
    bool Untouched() const { return ReadFileBytes(own_.File("mine")) == kOwnText; }

private:
    static constexpr char kOwnText[] = "the planter's own file";
    TempDirectory own_;
};

// A white list as users' saves leave it: several lines, a query, a byte
// outside ASCII, no line end after the last entry.
const std::string kWhiteList =
    "http://popups.example/\r\nhttps://www.example.org/path?x=1&y=2\r\n\r\nhttp://caf\xE9.example/";

}  // namespace

TEST_F(Installer, SilentInstallPlacesRegistersAndListsTheProduct) {
    ASSERT_EQ(kDone, RunSetup());
    ExpectInstalled();
    // Nothing of the user's is created, and nothing waits for a restart.
    EXPECT_EQ((std::vector<std::string>{"Korvane.dll", "KorvaneBroker.exe", "Uninstall.exe"}),
              FolderContents(kFolder));
    EXPECT_TRUE(FolderContents(kDataFolder).empty());
    EXPECT_TRUE(FileExists(kDataFolder));
    // The broker runs: setup started it.
    EXPECT_NE(0u, WaitForBroker());
    EXPECT_FALSE(ReadRawValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "Vantrell").present);
    EXPECT_FALSE(Queued(PendingOperations(), NtName(kLibrary + ".new"), "!" + NtName(kLibrary)));
    ExpectOnlyTheWhiteListsFolderOpenToUsers();

    const std::string log = ReadFileBytes(LogPath());
    EXPECT_TRUE(Contains(log, "Vantrell 1.52 Setup: "));
    EXPECT_TRUE(Contains(log, "Registered " + kLibrary + "."));
    EXPECT_TRUE(Contains(log, "Started the broker.\r\n"));
    EXPECT_TRUE(Contains(log, "Done.\r\n"));
}

TEST_F(Installer, FilesPlantedWhereSetupWritesAreReplacedNotWrittenInto) {
    const PlantedFile library(kLibrary);
    const PlantedFile waiting(kLibrary + ".new");
    const PlantedFile uninstaller(Installed("Uninstall.exe"));
    const PlantedFile broker(kBroker);
    const PlantedFile waitingBroker(kBroker + ".new");
    ASSERT_EQ(kDone, RunSetup());
    ExpectInstalled();
    EXPECT_TRUE(broker.Untouched());
    EXPECT_TRUE(waitingBroker.Untouched());
    EXPECT_TRUE(library.Untouched());
    EXPECT_TRUE(waiting.Untouched());
    EXPECT_TRUE(uninstaller.Untouched());
}

TEST_F(Installer, ComCreatesTheHelperFromTheInstalledLibrary) {
    ASSERT_EQ(kDone, RunSetup());
    EXPECT_EQ(0, RunProcess("\"" + ThisProgram() + "\" --create-helper \"" + kLibrary + "\""));
    // The helper's process has ended, so nothing holds the library any more.
    EXPECT_EQ(kDone, RunUninstaller());
    EXPECT_FALSE(FileExists(kFolder));
}

// What the user installed it for: the browser, finding the helper through
// the registration the installer made, blocks a page's popup and lets the
// user's own navigation through.
TEST_F(Installer, ABrowsingSessionAfterASilentInstallBlocksPopups) {
    ASSERT_EQ(kDone, RunSetup());
    TempDirectory folder;
    const std::string site = folder.File("site\\");
    CreateDirectoryA(site.c_str(), nullptr);
    CreateDirectoryA((site + "news.example").c_str(), nullptr);
    CreateDirectoryA((site + "ads.example").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(site + "news.example\\index.html",
                               "<html><body><a id=\"more\" href=\"more.html\">More</a></body></html>"));
    ASSERT_TRUE(WriteFileBytes(site + "news.example\\more.html", "<html><body>More</body></html>"));
    ASSERT_TRUE(WriteFileBytes(site + "ads.example\\pop.html", "<html><body>Buy!</body></html>"));
    const std::string session = folder.File("installed.session");
    ASSERT_TRUE(WriteFileBytes(session,
                               "site site\n"
                               "open http://news.example/index.html\n"
                               "script-open w1 http://ads.example/pop.html\n"
                               "expect blocked http://ads.example/pop.html\n"
                               "click w1 #more\n"
                               "expect url w1 http://news.example/more.html\n"
                               "expect windows 1\n"));
    EXPECT_EQ(0, RunProcess("\"" + korvane::test::ProgramDirectory() + "korvane_browser.exe\" \"" +
                            session + "\" --quiet --helper " + GuidText(CLSID_ViewSource)));
    EXPECT_EQ(kDone, RunUninstaller());
}

TEST_F(Installer, SilentUninstallWithoutWhiteListLeavesNothing) {
    ASSERT_EQ(kDone, RunSetup());
    ASSERT_NE(0u, WaitForBroker());
    ASSERT_EQ(kDone, RunUninstaller());
    // The broker was stopped before its files went.
    EXPECT_EQ(0u, BrokerProcess());
    ExpectNothingRegistered();
    ExpectNothingIn64BitView();
    EXPECT_FALSE(FileExists(kFolder));
    EXPECT_FALSE(FileExists(kDataFolder));
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "Unregistered " + kLibrary + "."));
    EXPECT_FALSE(Contains(ReadFileBytes(LogPath()), "Stopped the broker on this desktop with " + kFolder));
}

TEST_F(Installer, TheWhiteListSurvivesReinstallAndRemoval) {
    ASSERT_EQ(kDone, RunSetup());
    ASSERT_TRUE(WriteFileBytes(Data("WhiteList.txt"), kWhiteList));
    const DWORD firstBroker = WaitForBroker();
    ASSERT_NE(0u, firstBroker);

    // Setup again over the running broker: it is stopped, its program
    // replaced, and a new one started.
    ASSERT_EQ(kDone, RunSetup());
    EXPECT_EQ(kWhiteList, ReadFileBytes(Data("WhiteList.txt")));
    ExpectInstalled();
    const DWORD secondBroker = WaitForBroker();
    EXPECT_NE(0u, secondBroker);
    EXPECT_NE(firstBroker, secondBroker);

    // Saves that did not finish left their temporary files; removal takes
    // them and keeps the list, silently.
    ASSERT_TRUE(WriteFileBytes(Data("WhiteList.tmp"), "http://half.example/\r\n"));
    ASSERT_TRUE(WriteFileBytes(Data("WhiteList.0badf00d.tmp"), "http://half.example/\r\n"));
    ASSERT_EQ(kDone, RunUninstaller());
    ExpectNothingRegistered();
    EXPECT_FALSE(FileExists(kFolder));
    EXPECT_EQ(std::vector<std::string>{"WhiteList.txt"}, FolderContents(kDataFolder));
    EXPECT_EQ(kWhiteList, ReadFileBytes(Data("WhiteList.txt")));
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "Kept the white list " + Data("WhiteList.txt")));

    // Installed again, the product finds the list where it left it.
    ASSERT_EQ(kDone, RunSetup());
    EXPECT_EQ(kWhiteList, ReadFileBytes(Data("WhiteList.txt")));
    ExpectInstalled();
}

// Wine's per-program DLL switches make regsvr32 unable to load the library,
// as a damaged file or a missing system DLL would on Windows.
TEST_F(Installer, FailedRegistrationIsReportedAndNotClaimed) {
    if (!RunningOnWine()) GTEST_SKIP() << "needs Wine's per-program DLL switches";
    SetStringValue(HKEY_CURRENT_USER, kRegsvr32Overrides, "korvane", "");

    EXPECT_EQ(kFailed, RunSetup());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperKey));
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "could not be registered (regsvr32 ended with"));
    EXPECT_FALSE(Contains(ReadFileBytes(LogPath()), "Done."));
    // What is on disk can be removed from Add or Remove Programs.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(FileExists(Installed("Uninstall.exe")));

    // An uninstaller that cannot unregister removes nothing when silent:
    // the files are what a second try needs.
    EXPECT_EQ(kFailed, RunUninstaller());
    EXPECT_TRUE(FileExists(kLibrary));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "Nothing was removed."));

    DeleteValue(HKEY_CURRENT_USER, kRegsvr32Overrides, "korvane");
    EXPECT_EQ(kDone, RunUninstaller());
    ExpectNothingRegistered();
    EXPECT_FALSE(FileExists(kFolder));
}

TEST_F(Installer, AnUpgradeOfALibraryInUseCompletesAtRestart) {
    ASSERT_EQ(kDone, RunSetup());
    ASSERT_TRUE(WriteFileBytes(Data("WhiteList.txt"), kWhiteList));
    // The installed library stands for an older version (written while
    // no broker holds it).
    StopBrokers();
    const std::string older = ReadFileBytes(kLibrary) + "older version";
    ASSERT_TRUE(WriteFileBytes(kLibrary, older));
    LibraryHolder holder(kLibrary);
    ASSERT_TRUE(holder.Holding());
    // The file the new library is written to first may be planted too.
    const PlantedFile planted(kLibrary + ".new");

    EXPECT_EQ(kRestartNeeded, RunSetup());
    EXPECT_TRUE(planted.Untouched());
    EXPECT_EQ(older, ReadFileBytes(kLibrary));
    EXPECT_EQ(ReadFileBytes(korvane::test::KorvaneDllPath()), ReadFileBytes(kLibrary + ".new"));
    EXPECT_TRUE(Queued(PendingOperations(), NtName(kLibrary + ".new"), "!" + NtName(kLibrary)));
    // Registered now through the library in place (same path, same class),
    // and again by the new one after the restart.
    ExpectRegisteredAt(kLibrary);
    ExpectListedInAddRemovePrograms();
    ExpectString(HKEY_LOCAL_MACHINE, kRunOnceKey, "Vantrell",
                 "\"" + SystemFolder32() + "\\regsvr32.exe\" /s \"" + kLibrary + "\"");
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "Korvane.dll is in use by running programs"));
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "Done; Windows must restart to finish."));
    EXPECT_EQ(kWhiteList, ReadFileBytes(Data("WhiteList.txt")));

    ASSERT_TRUE(holder.Release());
    if (!MayRestart()) return;
    // What the restart registers is then the run-once command's own work.
    korvane::test::PurgeProductRegistration();
    // A restart ends every program, the broker that setup started among
    // them; Wine's leaves them running.
    StopBrokers();
    ASSERT_EQ(0u, BrokerProcess());
    ASSERT_TRUE(Restart());
    ExpectInstalled();
    // The logon after it starts the broker.
    ASSERT_TRUE(Logon());
    EXPECT_NE(0u, WaitForBroker());
    EXPECT_TRUE(PendingOperations().empty());
    EXPECT_FALSE(ReadRawValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "Vantrell").present);
    EXPECT_EQ(kWhiteList, ReadFileBytes(Data("WhiteList.txt")));
}

// An older setup kept the list beside the library and let users add files
// to its folder. The upgrade closes the folder, moves the list (and the
// backup a save cut short left) to the list's own folder, and removes what
// users left beside the programs; the broker then saves the list there.
TEST_F(Installer, AnUpgradeMovesTheListOutAndLeavesOnlyAdministratorsFiles) {
    ASSERT_EQ(kDone, RunSetup());
    StopBrokers();
    RemoveTree(kDataFolder);
    ASSERT_TRUE(WriteFileBytes(Installed("WhiteList.txt"), kWhiteList));
    ASSERT_TRUE(WriteFileBytes(Installed("WhiteList.0000beef.bak"), kWhiteList));
    ASSERT_TRUE(WriteFileBytes(Installed("WhiteList.0000beef.tmp"), "http://half.example/\r\n"));
    ASSERT_TRUE(WriteFileBytes(Installed("version.dll"), "planted"));
    ASSERT_TRUE(CreateDirectoryA(Installed("KorvaneBroker.exe.local").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(Installed("KorvaneBroker.exe.local\\comctl32.dll"), "planted"));

    ASSERT_EQ(kDone, RunSetup());
    ExpectInstalled();
    EXPECT_EQ((std::vector<std::string>{"Korvane.dll", "KorvaneBroker.exe", "Uninstall.exe"}),
              FolderContents(kFolder));
    EXPECT_EQ((std::vector<std::string>{"WhiteList.0000beef.bak", "WhiteList.txt"}), FolderContents(kDataFolder));
    EXPECT_EQ(kWhiteList, ReadFileBytes(Data("WhiteList.txt")));
    const std::string log = ReadFileBytes(LogPath());
    EXPECT_TRUE(Contains(log, "Moved the white list to " + Data("WhiteList.txt") + "."));
    EXPECT_TRUE(Contains(log, "Removed " + Installed("version.dll") + ", which setup did not put there."));
    ExpectOnlyTheWhiteListsFolderOpenToUsers();

    // The White List dialog of the broker that setup started: an entry
    // added is saved in the list's own folder, with the moved entries.
    const DWORD broker = WaitForBroker();
    ASSERT_NE(0u, broker);
    PostMessageA(korvane::test::TrayWindowOf(broker), WM_COMMAND, 32786, 0);
    HWND list = korvane::test::DialogOf(broker, "Vantrell White List");
    ASSERT_NE(nullptr, list);
    PostMessageA(list, WM_COMMAND, 228, 0);
    HWND editor = korvane::test::DialogOf(broker, "Vantrell Web Site Editor");
    ASSERT_NE(nullptr, editor);
    SendMessageA(GetDlgItem(editor, 232), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("tide.example"));
    PostMessageA(editor, WM_COMMAND, 233, 0);
    ASSERT_TRUE(korvane::test::WaitUntil([editor] { return !IsWindow(editor); }, 10000));
    PostMessageA(list, WM_COMMAND, 220, 0);
    ASSERT_TRUE(korvane::test::WaitUntil([list] { return !IsWindow(list); }, 10000));
    EXPECT_TRUE(Contains(ReadFileBytes(Data("WhiteList.txt")), "http://tide.example\r\n"));
    EXPECT_TRUE(Contains(ReadFileBytes(Data("WhiteList.txt")), "http://popups.example/\r\n"));
}

// "Tray Icon" = 1: the broker that the logon starts is the session's first
// process, and never shows the icon.
TEST_F(Installer, ALogonWithTheIconHiddenShowsNoIcon) {
    if (!CanRestart()) GTEST_SKIP() << "needs Wine's logon (wineboot)";
    ASSERT_EQ(kDone, RunSetup());
    StopBrokers();
    const std::string settings = "Software\\Vantrell\\BHO";
    korvane::test::WriteDwordValue(HKEY_CURRENT_USER, settings, "Tray Icon", 1);
    const size_t before = korvane::test::WineTrayIcons().size();
    ASSERT_TRUE(Logon() && WaitForBroker());
    korvane::test::PumpMessages(1500);
    EXPECT_EQ(before, korvane::test::WineTrayIcons().size());
    DeleteKeyTree(HKEY_CURRENT_USER, settings);
}

TEST_F(Installer, RemovalOfALibraryInUseCompletesAtRestart) {
    ASSERT_EQ(kDone, RunSetup());
    ASSERT_NE(0u, WaitForBroker());
    LibraryHolder holder(kLibrary);
    ASSERT_TRUE(holder.Holding());

    EXPECT_EQ(kRestartNeeded, RunUninstaller());
    // Unregistered at once, so no new browser window loads it.
    ExpectNothingRegistered();
    EXPECT_EQ(std::vector<std::string>{"Korvane.dll"}, FolderContents(kFolder));
    const Operations operations = PendingOperations();
    EXPECT_TRUE(Queued(operations, NtName(kLibrary), ""));
    // NSIS names the folder with a final backslash.
    EXPECT_TRUE(Queued(operations, NtName(kFolder) + "\\", "") || Queued(operations, NtName(kFolder), ""));
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "it will be removed when Windows restarts"));

    ASSERT_TRUE(holder.Release());
    if (!MayRestart()) return;
    ASSERT_TRUE(Restart());
    EXPECT_FALSE(FileExists(kFolder));
    EXPECT_TRUE(PendingOperations().empty());
}

// An uninstaller pointed at a folder without the product must not report a
// removal it did not do, nor touch what is there.
TEST_F(Installer, UninstallerRefusesAFolderWithoutTheProduct) {
    ASSERT_EQ(kDone, RunSetup());
    TempDirectory copyFolder;
    const std::string copy = CopyOfUninstaller(copyFolder);
    TempDirectory elsewhere;
    ASSERT_TRUE(WriteFileBytes(elsewhere.File("WhiteList.txt"), kWhiteList));
    std::string target = elsewhere.path();
    target.pop_back();

    EXPECT_EQ(kFailed, RunProcess("\"" + copy + "\" /S _?=" + target, 120000));
    EXPECT_EQ(std::vector<std::string>{"WhiteList.txt"}, FolderContents(target));
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "Vantrell is not installed in " + target + "."));
    // The real installation is untouched.
    ExpectInstalled();
}

struct ProcessWindows {
    DWORD process;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<ProcessWindows*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == found->process && IsWindowVisible(window)) found->windows.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectText(HWND window, LPARAM param) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    *reinterpret_cast<std::string*>(param) += std::string(text) + "\n";
    return TRUE;
}

// Runs the uninstaller with its windows, says Yes to its question about the
// white list and clicks through its pages as a user would.
TEST_F(Installer, InteractiveUninstallRemovesTheWhiteListWhenAsked) {
    ASSERT_EQ(kDone, RunSetup());
    ASSERT_TRUE(WriteFileBytes(Data("WhiteList.txt"), kWhiteList));
    TempDirectory copyFolder;
    const std::string copy = CopyOfUninstaller(copyFolder);
    ChildProcess uninstaller("\"" + copy + "\" _?=" + kFolder);
    ASSERT_TRUE(uninstaller.started());
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, uninstaller.id());
    ASSERT_NE(nullptr, process);

    std::string question;
    DWORD lastClick = 0;
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(process, 100) == WAIT_TIMEOUT && GetTickCount() - start < 60000) {
        ProcessWindows found{uninstaller.id(), {}};
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found));
        for (HWND window : found.windows) {
            // The message box: the only window with a Yes button.
            if (HWND yes = GetDlgItem(window, IDYES)) {
                if (question.empty()) EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&question));
                PostMessageA(yes, BM_CLICK, 0, 0);
                continue;
            }
            // The main window's button that goes on: Uninstall, then Finish.
            HWND next = GetDlgItem(window, IDOK);
            if (next && IsWindowVisible(next) && IsWindowEnabled(next) && GetTickCount() - lastClick > 1000) {
                PostMessageA(next, BM_CLICK, 0, 0);
                lastClick = GetTickCount();
            }
        }
    }
    CloseHandle(process);
    EXPECT_EQ(kDone, uninstaller.Wait(5000));
    EXPECT_TRUE(Contains(question, "remove your white list")) << question;
    ExpectNothingRegistered();
    EXPECT_FALSE(FileExists(kFolder));
    EXPECT_FALSE(FileExists(kDataFolder));
    EXPECT_TRUE(Contains(ReadFileBytes(LogPath()), "Removed the white list."));
}

int main(int argc, char** argv) {
    if (argc >= 5 && strcmp(argv[1], "--hold") == 0) {
        HMODULE library = LoadLibraryA(argv[2]);
        if (!library) return 2;
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, argv[3]);
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, argv[4]);
        SetEvent(ready);
        const DWORD waited = WaitForSingleObject(release, 120000);
        FreeLibrary(library);
        return waited == WAIT_OBJECT_0 ? 0 : 3;
    }
    if (argc >= 3 && strcmp(argv[1], "--create-helper") == 0) {
        if (FAILED(CoInitialize(nullptr))) return 2;
        IObjectWithSite* helper = nullptr;
        const HRESULT created = CoCreateInstance(CLSID_ViewSource, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IObjectWithSite,
                                                 reinterpret_cast<void**>(&helper));
        int result = 0;
        if (FAILED(created) || !helper) {
            std::printf("CoCreateInstance: 0x%08lx\n", static_cast<unsigned long>(created));
            result = 3;
        } else if (!GetModuleHandleA(argv[2])) {
            std::printf("the helper does not come from %s\n", argv[2]);
            result = 4;
        }
        if (helper) helper->Release();
        CoUninitialize();
        return result;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
