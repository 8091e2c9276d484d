// Real keystrokes in another process's window: the X server's own input,
// driven with xdotool, reaches a window of a program that loaded
// Korvane.dll (as the browser does) or of one that did not (any other
// application), where the system-wide keyboard hook acts. What it does is
// read back through a view of the shared switches, the registry and Wine's
// notification area.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "hotkeys/hotkey_hook.h"
#include "state/integrity.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "support/installed_korvane.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::ChildProcess;
using korvane::test::SharedView;
using korvane::test::Xdotool;

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A window of its own process for the keys to go to.
class KeyTarget {
public:
    KeyTarget(int x, int y, bool loadsTheLibrary, const std::string& library = test::KorvaneDllPath())
        : x_(x), y_(y) {
        const std::string ready = folder_.File("ready");
        static int counter = 0;
        quitName_ = "korvane-key-target-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(++counter);
        quit_ = CreateEventA(nullptr, TRUE, FALSE, quitName_.c_str());
        std::string command = Quoted(test::ProgramDirectory() + "korvane_key_target.exe") + " " +
                              std::to_string(x) + " " + std::to_string(y) + " " + Quoted(ready) +
                              " " + quitName_;
        if (loadsTheLibrary) command += " " + Quoted(library);
        process_.reset(new ChildProcess(command));
        started_ = test::WaitUntil([&] { return test::FileExists(ready); }, 20000);
    }
    ~KeyTarget() {
        Close();
        CloseHandle(quit_);
    }
    bool started() const { return started_; }
    DWORD Id() const { return process_ ? process_->id() : 0; }

    // Clicks the window, as a user does before typing into it, until a key
    // the hook ignores (F11) is seen to arrive there: Wine moves the X
    // server's keyboard focus a moment after the window becomes active.
    bool Focus() {
        const std::string name = quitName_ + ".key";
        HANDLE reached = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
        bool focused = false;
        for (int attempt = 0; attempt < 10 && !focused; ++attempt) {
            Xdotool("mousemove " + std::to_string(x_ + 100) + " " + std::to_string(y_ + 100) +
                    " click 1");
            test::PumpMessages(100);
            Xdotool("key F11");
            focused = test::WaitUntil(
                [&] { return WaitForSingleObject(reached, 0) == WAIT_OBJECT_0; }, 1000);
        }
        CloseHandle(reached);
        return focused;
    }
    HWND Window() const {
        for (HWND window = FindWindowA("KorvaneKeyTarget", nullptr); window;
             window = FindWindowExA(nullptr, window, "KorvaneKeyTarget", nullptr)) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == process_->id()) return window;
        }
        return nullptr;
    }
    // Ends the program; true when Korvane.dll was in the process by then.
    bool Close() {
        if (!process_) return false;
        SetEvent(quit_);
        const int code = process_->Wait(20000);
        process_.reset();
        return code == 1;
    }

private:
    test::TempDirectory folder_;
    std::string quitName_;
    HANDLE quit_ = nullptr;
    std::unique_ptr<ChildProcess> process_;
    int x_, y_;
    bool started_ = false;
};

DWORD StoredDword(const char* name) {
    const test::RawValue raw = test::ReadRawValue(HKEY_CURRENT_USER, kSettingsKey, name);
    DWORD value = 0xdeadbeef;
    if (raw.present && raw.bytes.size() == sizeof value) memcpy(&value, raw.bytes.data(), sizeof value);
    return value;
}

class HotKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(nullptr, GetModuleHandleA("Korvane.dll"));
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        test::WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, kSoundValue, 2);
        iconsBefore_ = test::WineTrayIcons().size();
        browser_.reset(new KeyTarget(300, 200, true));
        ASSERT_TRUE(browser_->started());
        view_.reset(new SharedView());
        ASSERT_TRUE(view_->ok());
        ASSERT_NE(nullptr, (*view_)->keyboardHook);
        ASSERT_TRUE(browser_->Focus()) << "the window did not take the focus";
    }
    void TearDown() override {
        browser_.reset();
        view_.reset();
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    }

    SharedState& Shared() { return **view_; }
    // Presses and releases a key; true once the switch shows the change.
    bool Press(const char* key, const std::function<bool()>& changed) {
        Xdotool(std::string("key ") + key);
        return test::WaitUntil(changed, 5000);
    }
    bool OurIconShown() { return test::WineTrayIcons().size() == iconsBefore_ + 1; }
    bool OurIconHidden() { return test::WineTrayIcons().size() == iconsBefore_; }

    std::unique_ptr<KeyTarget> browser_;
    std::unique_ptr<SharedView> view_;
    size_t iconsBefore_ = 0;
};

}  // namespace

TEST_F(HotKeysTest, F8HidesAndShowsTheIconAndStoresIt) {
    ASSERT_EQ(0, Shared().trayIconHidden);
    if (test::RunningOnWine()) {
        ASSERT_TRUE(test::WaitUntil([&] { return OurIconShown(); }, 10000));
    }
    // The switch changes first, the stored value right after it.
    ASSERT_TRUE(Press("F8", [&] {
        return Shared().trayIconHidden == 1 && StoredDword(kTrayIconValue) == 1;
    }));
    if (test::RunningOnWine()) {
        EXPECT_TRUE(test::WaitUntil([&] { return OurIconHidden(); }, 10000));
    }
    ASSERT_TRUE(Press("F8", [&] {
        return Shared().trayIconHidden == 0 && StoredDword(kTrayIconValue) == 0;
    }));
    if (test::RunningOnWine()) {
        EXPECT_TRUE(test::WaitUntil([&] { return OurIconShown(); }, 10000));
    }
}

TEST_F(HotKeysTest, F9SwitchesTheSoundAndStoresNothing) {
    ASSERT_EQ(1, Shared().soundOn);  // "Sound" 2: the wave file
    ASSERT_TRUE(Press("F9", [&] { return Shared().soundOn == 0; }));
    EXPECT_EQ(2u, StoredDword(kSoundValue));
    ASSERT_TRUE(Press("F9", [&] { return Shared().soundOn == 1; }));
    EXPECT_EQ(0, Shared().soundIsBeep);
    EXPECT_EQ(2u, StoredDword(kSoundValue));
}

TEST_F(HotKeysTest, F10SwitchesBlockingAndTheIcon) {
    ASSERT_EQ(0, Shared().popupsAllowed);
    ASSERT_TRUE(Press("F10", [&] { return Shared().popupsAllowed == 1; }));
    if (test::RunningOnWine()) {
        // Wine only: the icon is a window of its notification area.
        EXPECT_TRUE(test::WaitUntil(
            [&] {
                for (HWND icon : test::WineTrayIcons())
                    if (test::LooksGreen(test::IconColour(icon))) return true;
                return false;
            },
            10000));
    }
    ASSERT_TRUE(Press("F10", [&] { return Shared().popupsAllowed == 0; }));
    if (test::RunningOnWine()) {
        EXPECT_TRUE(test::WaitUntil(
            [&] {
                for (HWND icon : test::WineTrayIcons())
                    if (test::LooksGreen(test::IconColour(icon))) return false;
                return true;
            },
            10000));
    }
}

TEST_F(HotKeysTest, CtrlAndShiftLetTheNextWindowThrough) {
    Shared().popupOverride = 0;
    EXPECT_TRUE(Press("ctrl", [&] { return Shared().popupOverride == 1; }));
    Shared().popupOverride = 0;
    EXPECT_TRUE(Press("shift", [&] { return Shared().popupOverride == 1; }));
}

TEST_F(HotKeysTest, HoldingAKeyActsOnceAndReleasingItDoesNothing) {
    ASSERT_EQ(0, Shared().popupsAllowed);
    Xdotool("keydown F10");
    ASSERT_TRUE(test::WaitUntil([&] { return Shared().popupsAllowed == 1; }, 5000));
    // Held long enough for the keyboard to repeat it.
    test::PumpMessages(1200);
    Xdotool("keyup F10");
    test::PumpMessages(500);
    EXPECT_EQ(1, Shared().popupsAllowed);
}

// Any application the user types into gets the library through the hook:
// the keys act there too, and when the last process that has the library
// unloads, the hook goes with it.
TEST_F(HotKeysTest, KeysActInAnyApplicationUntilTheLastProcessUnloads) {
    {
        KeyTarget other(600, 200, false);
        ASSERT_TRUE(other.started());
        ASSERT_TRUE(other.Focus());
        ASSERT_TRUE(Press("F9", [&] { return Shared().soundOn == 0; }));
        EXPECT_EQ(2, Shared().instanceCount);
        EXPECT_TRUE(other.Close()) << "the hook did not bring the library into the application";
    }
    browser_->Close();
    EXPECT_EQ(0, Shared().instanceCount);

    KeyTarget later(600, 200, false);
    ASSERT_TRUE(later.started());
    ASSERT_TRUE(later.Focus());
    Xdotool("key F9");
    test::PumpMessages(1000);
    EXPECT_EQ(0, Shared().soundOn);
    EXPECT_FALSE(later.Close()) << "the hook outlived the last process";
}

// With its broker beside the library, a browser acting as at low integrity
// sets no hook: the broker's, set on a thread that does nothing but pump
// messages, acts on F10 typed into another program, once, and the broker's
// icon shows it.
TEST(BrokerHotKeys, F10TypedIntoAnotherProgramReachesTheBrokersHookOnce) {
    const std::string folder = test::BuildDirectory() + "broker\\";
    test::RunProcess(Quoted(folder + "KorvaneBroker.exe") + " /stop");
    test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    SetEnvironmentVariableA(kLowIntegrityVariable, "1");
    KeyTarget browser(300, 200, true, folder + "Korvane.dll");
    SetEnvironmentVariableA(kLowIntegrityVariable, nullptr);
    ASSERT_TRUE(browser.started());
    ChildProcess broker(Quoted(folder + "KorvaneBroker.exe"));
    ASSERT_EQ(broker.id(), test::WaitForBroker());
    SharedView view;
    ASSERT_TRUE(test::WaitUntil([&] { return view->hookOwnerProcess == broker.id(); }));

    KeyTarget other(600, 200, false);
    ASSERT_TRUE(other.Focus());
    Xdotool("key F10");
    EXPECT_TRUE(test::WaitUntil([&] { return view->popupsAllowed == 1; }, 5000));
    test::PumpMessages(1000);
    EXPECT_EQ(1, view->popupsAllowed);
    if (test::RunningOnWine()) {
        EXPECT_TRUE(test::WaitUntil([] {
            const auto icons = test::WineTrayIcons();
            return icons.size() == 1 && test::LooksGreen(test::IconColour(icons[0]));
        }, 10000));
    }
    view->popupsAllowed = 0;
    EXPECT_EQ(0, test::RunProcess(Quoted(folder + "KorvaneBroker.exe") + " /stop"));
}

// A 64-bit program the user types into: the notepad of 64-bit Windows (or
// of Wine's 64-bit prefix). Ended by force when done: closed, it would ask
// whether to save what was typed.
class Notepad64 {
public:
    Notepad64() {
        char windows[MAX_PATH] = {};
        GetWindowsDirectoryA(windows, sizeof windows);
        // Sysnative: the 64-bit system folder, as a 32-bit program names it.
        process_.reset(new ChildProcess(Quoted(std::string(windows) + "\\Sysnative\\notepad.exe")));
        HWND window = nullptr;
        test::WaitUntil([&] { return (window = FindWindowA("Notepad", nullptr)) != nullptr; }, 20000);
        MoveWindow(window, 600, 200, 300, 200, TRUE);
        edit_ = FindWindowExA(window, nullptr, "Edit", nullptr);
    }
    // Another process's text is asked for: GetWindowText would not.
    LRESULT TextLength() const { return edit_ ? SendMessageA(edit_, WM_GETTEXTLENGTH, 0, 0) : -1; }
    // Clicks into the text and types until a letter arrives there.
    bool Focus() {
        for (int attempt = 0; edit_ && attempt < 10; ++attempt) {
            Xdotool("mousemove 750 320 click 1 key x");
            if (test::WaitUntil([&] { return TextLength() > 0; }, 1000)) return true;
        }
        return false;
    }

private:
    std::unique_ptr<ChildProcess> process_;
    HWND edit_ = nullptr;
};

// On 64-bit Windows the 32-bit library cannot be loaded into a 64-bit
// program, so Windows calls the hook on the thread that set it, in the first
// process that loaded the library, before the program gets the key.
// Wine 8 does not: it calls the hook only in processes that can load the
// library, and a 64-bit program's keys pass it by. The keys still reach the
// program unharmed, which this shows on both.
TEST_F(HotKeysTest, KeysActInA64BitProgram) {
    if (!test::RunningUnderWow64()) GTEST_SKIP() << "32-bit Windows runs no 64-bit programs";
    Notepad64 notepad;
    ASSERT_TRUE(notepad.Focus()) << "the 64-bit program did not start or take the focus";
    const LRESULT typed = notepad.TextLength();
    ASSERT_EQ(1, Shared().soundOn);
    // The letter after F9 arrives once F9 has gone through the hook.
    Xdotool("key F9 x");
    ASSERT_TRUE(test::WaitUntil([&] { return notepad.TextLength() == typed + 1; }, 5000));
    if (Shared().soundOn == 1 && test::RunningOnWine())
        GTEST_SKIP() << "Wine does not call a 32-bit hook for a 64-bit program's keys";
    EXPECT_EQ(0, Shared().soundOn);
}

// The first browser ends while a second runs, and a third starts. The third
// owns the hook (checked directly: Wine keeps the first one's hook, which
// Windows removes with its thread), and F10 typed into the second one's
// window switches blocking once.
TEST_F(HotKeysTest, AfterTheFirstBrowserEndsTheNextOneOwnsTheHookAndKeysActOnce) {
    KeyTarget second(600, 200, true);
    ASSERT_TRUE(second.started());
    browser_->Close();
    KeyTarget third(300, 450, true);
    ASSERT_TRUE(third.started());
    EXPECT_EQ(third.Id(), Shared().hookOwnerProcess);
    ASSERT_NE(nullptr, Shared().keyboardHook);
    ASSERT_TRUE(second.Focus());
    ASSERT_TRUE(Press("F10", [&] { return Shared().popupsAllowed == 1; }));
    test::PumpMessages(1000);
    EXPECT_EQ(1, Shared().popupsAllowed);
}

// Two of our hooks in one chain, as Wine leaves an ended thread's hook
// beside its next owner's: a key acts once (twice would switch blocking
// back at once). Shown with two thread hooks of this program's own copy of
// the procedure, which acts on this program's switches.
TEST(HotKeyChain, AKeyPassedOnThroughTwoOfOurHooksActsOnce) {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 300, 200, 200, 200,
                                  nullptr, nullptr, nullptr, nullptr);
    HHOOK hooks[2];
    for (HHOOK& hook : hooks) hook = SetWindowsHookExA(WH_KEYBOARD, HotKeyProc, nullptr, GetCurrentThreadId());
    sharedState->popupsAllowed = 0;
    // Until the window has the focus, the key goes elsewhere.
    for (int attempt = 0; attempt < 10 && !sharedState->popupsAllowed; ++attempt) {
        Xdotool("mousemove 400 300 click 1 key F10");
        test::WaitUntil([] { return sharedState->popupsAllowed != 0; }, 1000);
    }
    test::PumpMessages(500);
    EXPECT_EQ(1, sharedState->popupsAllowed);
    for (HHOOK hook : hooks) UnhookWindowsHookEx(hook);
    DestroyWindow(window);
    sharedState->popupsAllowed = 0;
}

// A whole browsing session in a browser process of its own, with the DLL
// registered and settings stored as a user left them: the browser is the
// first process, so it reads them; the first browser event applies the
// stored visibility; a script's popup is blocked and a link clicked with
// Ctrl held opens its window.
TEST(FullSession, StoredSettingsApplyAndCtrlLetsAWindowThrough) {
    ASSERT_EQ(nullptr, GetModuleHandleA("Korvane.dll"));
    test::TempDirectory folder;
    const std::string dll = folder.File("Korvane.dll");
    ASSERT_TRUE(CopyFileA(test::KorvaneDllPath().c_str(), dll.c_str(), FALSE));
    ASSERT_EQ(0, test::RunProcess("regsvr32 /s " + Quoted(dll)));

    test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    test::WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, kTrayIconValue, 1);
    test::WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, kFlashValue, 1);
    test::WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, kSoundValue, 0);

    const std::string site = folder.File("site\\");
    CreateDirectoryA(site.c_str(), nullptr);
    test::WriteSitePage(site, "news.example/index.html",
                        "<html><body><a id=\"story\" href=\"story.html\">Story</a></body></html>");
    test::WriteSitePage(site, "news.example/story.html", "<html><body>Story</body></html>");
    test::WriteSitePage(site, "ads.example/pop.html", "<html><body>Buy!</body></html>");
    const std::string session = folder.File("ctrl.session");
    ASSERT_TRUE(test::WriteFileBytes(session,
        "site site\n"
        "open http://news.example/index.html\n"
        "expect loaded http://news.example/index.html\n"
        "# the test looks at the tray and the switches meanwhile\n"
        "wait 2000\n"
        "script-open w1 http://ads.example/pop.html\n"
        "expect blocked http://ads.example/pop.html\n"
        "click w1 #story ctrl\n"
        "expect opened http://news.example/story.html\n"
        "expect windows 2\n"));

    const size_t iconsBefore = test::WineTrayIcons().size();
    ChildProcess browser(Quoted(test::ProgramDirectory() + "korvane_browser.exe") + " " +
                         Quoted(session) + " --helper {D4C6FD64-4FC9-4069-A925-2A90D1E4D7E9}");
    ASSERT_TRUE(browser.started());
    // The browser's load makes the block, and reads the settings into it.
    ASSERT_TRUE(test::WaitUntil([] { return test::SessionSharedStateMade(); }, 20000));
    SharedView view;
    ASSERT_TRUE(view.ok());
    ASSERT_TRUE(test::WaitUntil([&] { return view->trayIconSynced == 1; }, 20000));
    EXPECT_EQ(1, view->instanceCount);
    EXPECT_EQ(1, view->trayIconHidden);
    EXPECT_EQ(1, view->flashOn);
    EXPECT_EQ(0, view->soundOn);
    if (test::RunningOnWine()) {
        // Hidden from the start, as the user wanted.
        EXPECT_TRUE(test::WaitUntil([&] { return test::WineTrayIcons().size() == iconsBefore; }, 5000));
    }
    EXPECT_EQ(0, browser.Wait(60000)) << "an expectation of the session failed";

    test::RunProcess("regsvr32 /u /s " + Quoted(dll));
    test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
}
