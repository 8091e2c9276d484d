// Loading and unloading the library, process by process: each process here
// is a small probe program that loads Korvane.dll and waits, and this test
// program watches the shared switches through a view of the DLL that does
// not count as a load, the registry, and Wine's notification area.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "module/hook_owner.h"
#include "module/module_lifetime.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "tray/tray_icon.h"
#include "support/installed_korvane.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::ChildProcess;
using korvane::test::RunProcess;
using korvane::test::SharedView;

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

LRESULT CALLBACK PassKey(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        // This program must never be one of the processes counted.
        ASSERT_EQ(nullptr, GetModuleHandleA("Korvane.dll"));
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    }
    void TearDown() override {
        view_.reset();
        for (auto& held : held_) Release(*held);
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    }

    struct Held {
        std::string release;
        std::unique_ptr<ChildProcess> process;
    };

    // A process that loads the library and keeps it until released; before
    // and after: probe commands before it says it is ready, and after.
    Held& Hold(const std::string& before = "", const std::string& after = "") {
        static int counter = 0;
        const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        auto held = std::make_unique<Held>();
        held->release = "korvane-release-" + tag;
        const std::string ready = "korvane-ready-" + tag;
        HANDLE readyEvent = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
        held->process.reset(new ChildProcess(Probe() + " " + before + " signal " + ready + " " + after +
                                             " wait " + held->release));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(readyEvent, 30000));
        CloseHandle(readyEvent);
        held_.push_back(std::move(held));
        return *held_.back();
    }
    void Release(Held& held) {
        if (!held.process) return;
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, held.release.c_str());
        SetEvent(release);
        EXPECT_EQ(0, held.process->Wait());
        CloseHandle(release);
        held.process.reset();
    }
    std::string Probe() const {
        return Quoted(test::ProgramDirectory() + "korvane_shared_probe.exe") + " " +
               Quoted(test::KorvaneDllPath());
    }
    SharedView& View() {
        if (!view_) view_.reset(new SharedView());
        EXPECT_TRUE(view_->ok());
        return *view_;
    }
    void Store(const char* name, DWORD value) {
        test::WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, name, value);
    }
    size_t TrayIcons() { return test::WineTrayIcons().size(); }
    bool TrayIconsBecome(size_t count) {
        return test::WaitUntil([&] { return TrayIcons() == count; }, 10000);
    }

    std::vector<std::unique_ptr<Held>> held_;
    std::unique_ptr<SharedView> view_;
};

}  // namespace

TEST_F(StartupTest, TheShellIsRefusedAndNothingSharedChanges) {
    Hold();
    SharedView& view = View();
    const HHOOK hook = view->keyboardHook;
    view->helperActive = 0;  // a mark that a load would overwrite

    // Any letter case, anywhere in the host's path.
    test::TempDirectory folder;
    const std::string shellFolder = folder.File("ExPlOrEr.ExE tools");
    ASSERT_TRUE(CreateDirectoryA(shellFolder.c_str(), nullptr));
    const std::string shellProbe = shellFolder + "\\probe.exe";
    ASSERT_TRUE(CopyFileA((test::ProgramDirectory() + "korvane_shared_probe.exe").c_str(),
                          shellProbe.c_str(), FALSE));
    EXPECT_EQ(2, RunProcess(Quoted(shellProbe) + " " + Quoted(test::KorvaneDllPath())))
        << "the library loaded into the shell";

    EXPECT_EQ(1, view->instanceCount);
    EXPECT_EQ(0, view->helperActive);
    EXPECT_EQ(hook, view->keyboardHook);
    view->helperActive = 1;
}

TEST_F(StartupTest, FirstProcessHooksTheKeyboardLoadsTheSettingsAndShowsItsIcon) {
    Store(kSoundValue, 7);
    Store(kFlashValue, 5);
    test::DeleteKeyTree(HKEY_CURRENT_USER, kBrowserMainKey);
    const size_t iconsBefore = TrayIcons();

    // Nothing that would deadlock under the loader lock: no library (the
    // shell's) is loaded, no notification area called, until attach is over.
    Held& first = Hold("not-loaded shell32.dll");
    SharedView& view = View();
    EXPECT_NE(nullptr, view->keyboardHook);
    EXPECT_EQ(1, view->instanceCount);
    EXPECT_EQ(1, view->helperActive);
    EXPECT_EQ(1, view->soundOn);      // 7: the wave file
    EXPECT_EQ(0, view->soundIsBeep);
    EXPECT_EQ(1, view->flashOn);      // 5 is no value of ours: both left as they start
    EXPECT_EQ(0, view->blockBannerAds);
    EXPECT_EQ(0, view->trayIconHidden);  // "Tray Icon" missing
    const test::RawValue debugger =
        test::ReadRawValue(HKEY_CURRENT_USER, kBrowserMainKey, kDisableScriptDebuggerValue);
    EXPECT_TRUE(debugger.present);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), debugger.type);
    EXPECT_EQ("yes", debugger.bytes);
    if (test::RunningOnWine()) {
        EXPECT_TRUE(TrayIconsBecome(iconsBefore + 1));
    }

    view_.reset();
    Release(first);
    if (test::RunningOnWine()) {
        EXPECT_TRUE(TrayIconsBecome(iconsBefore));
    }
}

TEST_F(StartupTest, EachStoredSettingIsReadWithItsEncoding) {
    struct Case {
        const char* stored;  // name=value, or a name alone for "missing"
        const char* expect;
    };
    const Case cases[] = {
        {"Sound", "expect soundOn 0 expect soundIsBeep 1"},
        {"Sound=1", "expect soundOn 1 expect soundIsBeep 1"},
        {"Sound=2", "expect soundOn 1 expect soundIsBeep 0"},
        {"Flash", "expect flashOn 0 expect blockBannerAds 0"},
        {"Flash=1", "expect flashOn 1 expect blockBannerAds 0"},
        {"Flash=2", "expect flashOn 0 expect blockBannerAds 1"},
        {"Flash=3", "expect flashOn 1 expect blockBannerAds 1"},
        {"Tray Icon", "expect trayIconHidden 0"},
        {"Tray Icon=1", "expect trayIconHidden 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        std::string stored = c.stored;
        const size_t equals = stored.find('=');
        if (equals != std::string::npos)
            Store(stored.substr(0, equals).c_str(), std::stoul(stored.substr(equals + 1)));
        // The probe is the only process: the first one, which reads them.
        EXPECT_EQ(0, RunProcess(Probe() + " expect instanceCount 1 " + c.expect));
    }
}

TEST_F(StartupTest, SecondProcessCountsButNeitherHooksNorReadsAgainAndStaysHidden) {
    Store(kSoundValue, 1);
    const size_t iconsBefore = TrayIcons();
    Hold();
    SharedView& view = View();
    const HHOOK hook = view->keyboardHook;
    if (test::RunningOnWine()) {
        ASSERT_TRUE(TrayIconsBecome(iconsBefore + 1));
    }
    const size_t icons = TrayIcons();
    Store(kSoundValue, 2);
    Store(kFlashValue, 3);

    Held& second = Hold();
    EXPECT_EQ(2, view->instanceCount);
    EXPECT_EQ(hook, view->keyboardHook);
    EXPECT_EQ(1, view->soundIsBeep);
    EXPECT_EQ(0, view->blockBannerAds);
    if (test::RunningOnWine()) {
        test::PumpMessages(500);
        EXPECT_EQ(icons, TrayIcons());
    }
    Release(second);
    EXPECT_EQ(1, view->instanceCount);
}

TEST_F(StartupTest, AProcessWithAVisibleIconHandsItOverWhenItUnloads) {
    Held& first = Hold();
    Held& second = Hold();
    SharedView& view = View();

    // The second one's icon was never shown: nothing to hand over.
    view->trayIconSynced = 1;
    Release(second);
    EXPECT_EQ(1, view->trayIconSynced);

    Hold();
    view->trayIconSynced = 1;
    Release(first);
    EXPECT_EQ(0, view->trayIconSynced);
    EXPECT_EQ(1, view->instanceCount);
}

TEST_F(StartupTest, ALoadAfterExitSwitchesTheHelperOnAgain) {
    Hold();
    View()->helperActive = 0;  // what the tray menu's Exit does
    EXPECT_EQ(0, RunProcess(Probe() + " expect helperActive 1 expect instanceCount 2"));
    EXPECT_EQ(1, View()->helperActive);
}

// COM frees an in-process server, from any thread, once DllCanUnloadNow
// says it may: here from a thread other than the one whose tray window runs
// in the library. The library must stay, and the window go on answering.
TEST_F(StartupTest, ALoadedLibraryStaysUntilItsProcessEnds) {
    EXPECT_EQ(0, RunProcess(Quoted(test::ProgramDirectory() + "korvane_unload_probe.exe") + " " +
                            Quoted(test::KorvaneDllPath())));
}

// The hook belongs to a live thread of a live process. Windows removes a
// hook with its thread and Wine keeps it, so the owner is checked directly.
// The switches are the user's: they start afresh only when no process of
// the session has the library, never because the hook changed hands.
TEST_F(StartupTest, TheNextLoadAfterTheOwnerEndsOwnsTheHookAndKeepsTheSwitches) {
    Store(kSoundValue, 1);
    Held& p1 = Hold();
    SharedView& view = View();
    EXPECT_EQ(p1.process->id(), view->hookOwnerProcess);
    view->popupsAllowed = 1;  // F10 and F9: never stored
    view->soundOn = 0;
    Held& p2 = Hold();
    EXPECT_EQ(p1.process->id(), view->hookOwnerProcess);
    Release(p1);
    Held& p3 = Hold();
    EXPECT_EQ(p3.process->id(), view->hookOwnerProcess);
    EXPECT_NE(0u, view->hookOwnerThread);
    EXPECT_NE(nullptr, view->keyboardHook);
    EXPECT_EQ(1, view->popupsAllowed);
    EXPECT_EQ(0, view->soundOn);
    EXPECT_EQ(2, view->instanceCount);  // counted, deciding nothing

    // A browser killed: no detach runs, and the next load owns the hook.
    p3.process.reset();
    EXPECT_EQ(0, RunProcess(Probe() + " owner-here expect popupsAllowed 1 expect soundOn 0"));
    // No process left: the next one starts afresh, with the stored settings.
    Release(p2);
    view_.reset();
    EXPECT_EQ(0, RunProcess(Probe() + " expect popupsAllowed 0 expect soundOn 1"));

    // Only the owner's thread ended (its window closed): F9 stays off too.
    Hold("--on-thread");
    View()->soundOn = 0;
    EXPECT_EQ(0, RunProcess(Probe() + " owner-here expect soundOn 0"));
}

// Any process of the user may write the shared block: a new owner removes
// only a hook that its own process set, never one whose handle it read there.
TEST_F(StartupTest, ANewOwnerRemovesNoHookWhoseHandleItReadInTheSharedBlock) {
    Held& p1 = Hold();
    HHOOK mine = SetWindowsHookExA(WH_KEYBOARD, PassKey, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, mine);
    View()->keyboardHook = mine;
    Release(p1);
    EXPECT_EQ(0, RunProcess(Probe() + " owner-here"));
    EXPECT_TRUE(UnhookWindowsHookEx(mine)) << "another process removed this one's hook";
}

// The owner's first window closes and a later process takes the hook over
// and shows the icon; the first one's next event must not show a second.
// The icons are counted in Wine's notification area.
TEST_F(StartupTest, AHandOverNeverLeavesTwoIcons) {
    if (!test::RunningOnWine()) GTEST_SKIP() << "counts the icons of Wine's notification area";
    const size_t before = TrayIcons();
    const std::string go = "korvane-go-" + std::to_string(GetCurrentProcessId());
    HANDLE goEvent = CreateEventA(nullptr, TRUE, FALSE, go.c_str());
    Hold("--on-thread", "wait " + go + " event");
    Hold("", "event");
    EXPECT_TRUE(TrayIconsBecome(before + 1));
    SetEvent(goEvent);
    test::PumpMessages(1500);
    EXPECT_EQ(before + 1, TrayIcons());
    CloseHandle(goEvent);
}

// The thread that loaded the library ends (its browser window was closed)
// while the process lives on: the next browser event's thread takes the
// hook and the tray window over, and the switches stay as they are.
TEST_F(StartupTest, ABrowserEventTakesOverTheHookAndTrayOfAnEndedThread) {
    EXPECT_EQ(0, RunProcess(Probe() + " --on-thread set popupsAllowed 1 event owner-here tray-here"
                                      " expect popupsAllowed 1 expect trayIconSynced 1"));
}

// Whatever another process holds of the session's objects (each role's
// mutex, the broker's, the name of the lock attach once waited for, a view
// of the switches and of the log), a load waits for none of it, and an
// unload neither: the library counts the waits its attach made.
TEST_F(StartupTest, LoadingWaitsForNothingThatAnotherProcessHolds) {
    Held& held = Hold("waits 0");
    SharedView& view = View();
    std::vector<HANDLE> holds;
    const std::string broker = "Korvane.Broker." + std::string(UserSidText().c_str());
    for (const char* name : {kHookOwnerName, kTrayIconOwnerName, "Korvane.InstanceLock", broker.c_str()})
        holds.push_back(CreateMutexA(nullptr, TRUE, SessionObjectName(name).c_str()));
    holds.push_back(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1 << 20,
                                       SessionObjectName("Korvane.SessionLog").c_str()));
    for (HANDLE hold : holds) ASSERT_NE(nullptr, hold);
    // Counted, without the hook (another thread holds its role).
    EXPECT_EQ(0, RunProcess(Probe() + " waits 0 expect instanceCount 2"));
    EXPECT_EQ(held.process->id(), view->hookOwnerProcess);
    Release(held);
    for (HANDLE hold : holds) CloseHandle(hold);
}

// An administrator's account working in the user's session ("over the
// shoulder") registers the library: the session's block is the user's, and
// its list shuts that account out. Wine keeps the lists of named objects,
// so a block made with a list that admits only the system stands for it.
TEST_F(StartupTest, RegistrationSucceedsBesideASessionBlockItMayNotOpen) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;GA;;;SY)", SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, &security, PAGE_READWRITE, 0, sizeof(SharedState),
                                      SessionObjectName(kSharedStateObjectName).c_str());
    ASSERT_NE(nullptr, block);
    const std::string dll = Quoted(test::KorvaneDllPath());
    EXPECT_EQ(0, RunProcess("regsvr32 /s " + dll));
    EXPECT_TRUE(test::KeyExists(HKEY_CLASSES_ROOT, "Korvane.ViewSource\\CLSID"));
    EXPECT_EQ(0, RunProcess("regsvr32 /u /s " + dll));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, "Korvane.ViewSource\\CLSID"));
    CloseHandle(block);
    LocalFree(descriptor);
}

// A window of another program named in the block as the icon's (where there
// is no private namespace a low process could write that): the icon's
// private messages are never posted there, even to a class of our name.
LONG trayMessagesReceived = 0;
LRESULT CALLBACK CountTrayMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    trayMessagesReceived += message >= TrayLoadFlashIconsMessage && message <= TraySyncMessage;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(StartupTest, TheIconsMessagesGoOnlyToATrayWindowOfTheLibrary) {
    WNDCLASSA windowClass{0, CountTrayMessages, 0, 0, GetModuleHandleA(nullptr)};
    windowClass.lpszClassName = TrayIconClassName;
    RegisterClassA(&windowClass);
    HWND other = CreateWindowA(TrayIconClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    HANDLE iconOwner = CreateMutexA(nullptr, TRUE, SessionObjectName(kTrayIconOwnerName).c_str());
    View()->trayIconWindow = other;
    View()->trayIconSynced = 0;
    // Its browser event sends "bring the icon in line" to the window named.
    EXPECT_EQ(0, RunProcess(Probe() + " event"));
    test::PumpMessages(500);
    EXPECT_EQ(0, trayMessagesReceived);
    CloseHandle(iconOwner);
    DestroyWindow(other);
}

// "Tray Icon" = 1: the session's first process (at logon, the broker) never
// shows the icon, not even for a moment before a browser event hides it.
TEST_F(StartupTest, AFirstProcessKeepsAHiddenIconHidden) {
    if (!test::RunningOnWine()) GTEST_SKIP() << "counts the icons of Wine's notification area";
    Store(kTrayIconValue, 1);
    const size_t before = TrayIcons();
    Held& first = Hold("expect trayIconHidden 1");
    test::PumpMessages(1500);
    EXPECT_EQ(before, TrayIcons());
    Release(first);
}
