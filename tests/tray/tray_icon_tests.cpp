// TrayIcon's states, records and flash, seen through a stand-in for the
// shell and the timers: every call and the record it carried.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "recording_platform.h"
#include "resource.h"
#include "state/shared_state.h"
#include "support/test_support.h"
#include "tray/tray_icon.h"
#include "tray/ui_test_support.h"

using namespace korvane;
using korvane::test::RecordingPlatform;
using Names = std::vector<std::string>;

namespace {

HICON OtherIcon() { return LoadIconA(nullptr, MAKEINTRESOURCEA(32512)); }  // IDI_APPLICATION

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override { test::PrepareUserInterface(); }

    // Installed hidden, as start-up does.
    void Install(BOOL startHidden = TRUE) {
        tray.Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip, iconBlocking,
                     TrayIconId, startHidden);
    }
    void InstallShown() {
        Install();
        ASSERT_TRUE(tray.ShowInTray());
        shell.calls.clear();
    }
    const RecordingPlatform::Call& Last() const { return shell.calls.back(); }

    RecordingPlatform shell;
    TrayIcon tray{shell};
};

}  // namespace

TEST_F(TrayIconTest, InstallHiddenCreatesTheWindowAndRecordWithoutTheShell) {
    ASSERT_TRUE(tray.Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip,
                             iconBlocking, TrayIconId, TRUE));
    EXPECT_TRUE(shell.calls.empty());
    HWND window = tray.HiddenWindow();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ("TrayIconClass", test::ClassOf(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(static_cast<LONG>(WS_POPUP), GetWindowLongA(window, GWL_STYLE) & WS_POPUP);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    ASSERT_TRUE(GetClassInfoExA(moduleInstance, "TrayIconClass", &windowClass));
    EXPECT_EQ(static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS), windowClass.style);

    const NOTIFYICONDATAA& record = tray.NotifyData();
    EXPECT_EQ(88u, record.cbSize);
    EXPECT_EQ(window, record.hWnd);
    EXPECT_EQ(212u, record.uID);
    EXPECT_EQ(static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP), record.uFlags);
    EXPECT_EQ(0x800Au, record.uCallbackMessage);
    EXPECT_EQ(iconBlocking, record.hIcon);
    EXPECT_STREQ("Disable Popup Windows", record.szTip);
    EXPECT_FALSE(tray.IsDisplayed());
    EXPECT_TRUE(tray.IsRemoved());
    EXPECT_EQ(window, tray.MenuOwner());
}

TEST_F(TrayIconTest, AGivenNotificationWindowReceivesTheMessagesAndOwnsTheMenu) {
    HWND other = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 moduleInstance, nullptr);
    tray.Install(moduleInstance, other, TrayCallbackMessage, "tip", iconBlocking, 7, TRUE);
    EXPECT_EQ(other, tray.NotifyData().hWnd);
    EXPECT_EQ(other, tray.MenuOwner());
    EXPECT_NE(other, tray.HiddenWindow());
    DestroyWindow(other);
}

TEST_F(TrayIconTest, InstallShownAddsTheRecordAtOnce) {
    ASSERT_TRUE(tray.Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip,
                             iconBlocking, TrayIconId, FALSE));
    ASSERT_EQ(Names{"add"}, Names{Last().name});
    EXPECT_EQ(88u, Last().record.cbSize);
    EXPECT_EQ(7u, Last().record.uFlags);
    EXPECT_TRUE(tray.IsDisplayed());

    RecordingPlatform refusing;
    refusing.shellAnswers = {FALSE};
    TrayIcon refused(refusing);
    EXPECT_FALSE(refused.Install(moduleInstance, nullptr, TrayCallbackMessage, "tip", iconBlocking,
                                 TrayIconId, FALSE));
    EXPECT_FALSE(refused.IsDisplayed());
    EXPECT_TRUE(refused.IsRemoved());
    EXPECT_TRUE(refused.IsAddPending());
}

TEST_F(TrayIconTest, WithoutANotificationAreaTheObjectStaysInert) {
    shell.version = 0x00000003;  // 3.x
    EXPECT_FALSE(tray.Install(moduleInstance, nullptr, TrayCallbackMessage, "tip", iconBlocking,
                              TrayIconId, FALSE));
    EXPECT_EQ(nullptr, tray.HiddenWindow());
    EXPECT_FALSE(tray.ShowInTray());
    EXPECT_TRUE(tray.HideFromTray());
    EXPECT_TRUE(tray.NotifyDelete());
    EXPECT_FALSE(tray.NotifyAdd());
    EXPECT_FALSE(tray.ChangeIcon(iconAllowing));
    EXPECT_FALSE(tray.ChangeTooltip("x"));
    EXPECT_EQ(nullptr, tray.CurrentIcon());
    EXPECT_FALSE(tray.IsDisplayed());
    EXPECT_FALSE(tray.RetryAdd());
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(TrayIconTest, ShowAndHideCallTheShellOnlyWhenTheStateChanges) {
    Install();
    EXPECT_TRUE(tray.HideFromTray());  // already hidden
    EXPECT_TRUE(shell.calls.empty());

    EXPECT_TRUE(tray.ShowInTray());
    EXPECT_EQ(Names{"add"}, shell.TakeNames());
    EXPECT_TRUE(tray.IsDisplayed());
    EXPECT_TRUE(tray.ShowInTray());  // already displayed
    EXPECT_TRUE(shell.calls.empty());

    EXPECT_TRUE(tray.HideFromTray());
    ASSERT_EQ(1u, shell.calls.size());
    EXPECT_EQ("delete", Last().name);
    EXPECT_EQ(0u, Last().record.uFlags);
    EXPECT_FALSE(tray.IsDisplayed());
    EXPECT_TRUE(tray.IsRemoved());
}

TEST_F(TrayIconTest, NotifyAddOnADisplayedIconDeletesItFirst) {
    InstallShown();
    EXPECT_TRUE(tray.NotifyAdd());
    ASSERT_EQ((Names{"delete", "add"}), (Names{shell.calls[0].name, shell.calls[1].name}));
    EXPECT_EQ(0u, shell.calls[0].record.uFlags);
    EXPECT_EQ(7u, shell.calls[1].record.uFlags);
    EXPECT_TRUE(tray.IsDisplayed());
}

TEST_F(TrayIconTest, ChangesWhileHiddenWaitForTheNextShow) {
    Install();
    EXPECT_TRUE(tray.ChangeIcon(iconAllowing));
    EXPECT_TRUE(tray.ChangeTooltip(kAllowingTooltip));
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_EQ(iconAllowing, tray.CurrentIcon());

    ASSERT_TRUE(tray.ShowInTray());
    ASSERT_EQ(1u, shell.calls.size());
    EXPECT_EQ("add", Last().name);
    EXPECT_EQ(7u, Last().record.uFlags);
    EXPECT_EQ(iconAllowing, Last().record.hIcon);
    EXPECT_STREQ("Enable Popup Windows", Last().record.szTip);
}

TEST_F(TrayIconTest, ChangesWhileDisplayedModifyOnlyWhatChanged) {
    InstallShown();
    EXPECT_TRUE(tray.ChangeIcon(iconAllowing));
    ASSERT_EQ("modify", Last().name);
    EXPECT_EQ(static_cast<UINT>(NIF_ICON), Last().record.uFlags);
    EXPECT_EQ(iconAllowing, Last().record.hIcon);

    EXPECT_TRUE(tray.ChangeTooltip(kAllowingTooltip));
    ASSERT_EQ("modify", Last().name);
    EXPECT_EQ(static_cast<UINT>(NIF_TIP), Last().record.uFlags);
    EXPECT_STREQ("Enable Popup Windows", Last().record.szTip);

    // A refused modify is returned; the record keeps the new values.
    shell.shellAnswers = {FALSE};
    EXPECT_FALSE(tray.ChangeIcon(iconBlocking));
    EXPECT_EQ(iconBlocking, tray.CurrentIcon());
    EXPECT_TRUE(tray.IsDisplayed());
}

TEST_F(TrayIconTest, TooltipsKeepAtMost63Bytes) {
    Install();
    const std::string exact(63, 'e');
    tray.ChangeTooltip(exact.c_str());
    EXPECT_EQ(exact, tray.Tooltip());
    const std::string longer = std::string(63, 'x') + "tail beyond the record";
    tray.ChangeTooltip(longer.c_str());
    EXPECT_EQ(std::string(63, 'x'), tray.Tooltip());
    tray.ChangeTooltip(std::string(5000, 'y').c_str());
    EXPECT_EQ(std::string(63, 'y'), tray.Tooltip());

    TrayIcon other(shell);
    other.Install(moduleInstance, nullptr, TrayCallbackMessage, longer.c_str(), iconBlocking,
                  TrayIconId, TRUE);
    EXPECT_EQ(std::string(63, 'x'), other.Tooltip());
}

TEST_F(TrayIconTest, ShellRefusalsKeepTheIconWhereTheShellHasIt) {
    Install();
    shell.shellAnswers = {FALSE};
    EXPECT_FALSE(tray.ShowInTray());
    EXPECT_FALSE(tray.IsDisplayed());
    EXPECT_TRUE(tray.IsRemoved());
    EXPECT_TRUE(tray.IsAddPending());

    ASSERT_TRUE(tray.ShowInTray());
    EXPECT_TRUE(tray.IsDisplayed());

    // A refused delete: the icon is still there, and still counted so.
    shell.shellAnswers = {FALSE};
    EXPECT_FALSE(tray.HideFromTray());
    EXPECT_TRUE(tray.IsDisplayed());
    EXPECT_TRUE(tray.NotifyDelete());
    EXPECT_FALSE(tray.IsDisplayed());

    // NotifyDelete forgets a pending add, without asking the shell.
    shell.shellAnswers = {FALSE};
    tray.ShowInTray();
    EXPECT_TRUE(tray.IsAddPending());
    shell.calls.clear();
    EXPECT_TRUE(tray.NotifyDelete());
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_FALSE(tray.IsAddPending());
}

TEST_F(TrayIconTest, FlashIconListFollowsTheResourceRange) {
    Install();
    ASSERT_TRUE(tray.LoadFlashIcons(209, 210));
    ASSERT_EQ(2u, tray.FlashIcons().size());
    EXPECT_EQ(LoadIconA(moduleInstance, MAKEINTRESOURCEA(209)), tray.FlashIcons()[0]);
    EXPECT_EQ(LoadIconA(moduleInstance, MAKEINTRESOURCEA(210)), tray.FlashIcons()[1]);

    EXPECT_FALSE(tray.LoadFlashIcons(210, 209));
    EXPECT_EQ(2u, tray.FlashIcons().size());

    ASSERT_TRUE(tray.LoadFlashIcons(209, 209));
    ASSERT_EQ(1u, tray.FlashIcons().size());

    // A missing resource keeps its place as a null handle.
    ASSERT_TRUE(tray.LoadFlashIcons(210, 211));
    ASSERT_EQ(2u, tray.FlashIcons().size());
    EXPECT_EQ(nullptr, tray.FlashIcons()[1]);
}

TEST_F(TrayIconTest, FlashAlternatesTheIconsThenRestoresTheOneFromItsStart) {
    InstallShown();
    ASSERT_TRUE(tray.LoadFlashIcons(209, 210));
    ASSERT_TRUE(tray.StartFlash(200, 1));
    ASSERT_EQ(1u, shell.calls.size());
    EXPECT_EQ("SetTimer", Last().name);
    EXPECT_EQ(tray.HiddenWindow(), Last().window);
    EXPECT_EQ(FlashTimerId, Last().timer);
    EXPECT_EQ(200u, Last().elapse);
    shell.calls.clear();

    // The first tick shows the second icon, then they alternate.
    const HICON expected[] = {iconAllowing, iconBlocking, iconAllowing};
    for (HICON icon : expected) {
        tray.OnTimer(FlashTimerId);
        ASSERT_EQ("modify", Last().name);
        EXPECT_EQ(icon, Last().record.hIcon);
        EXPECT_EQ(static_cast<UINT>(NIF_ICON), Last().record.uFlags);
    }
    // Another part switches the state meanwhile; the flash does not mind.
    tray.ChangeIcon(OtherIcon());
    tray.ChangeTooltip(kAllowingTooltip);

    shell.now += 1;  // a second later: not yet past the duration
    tray.OnTimer(FlashTimerId);
    EXPECT_TRUE(tray.IsFlashing());
    shell.now += 1;
    shell.calls.clear();
    tray.OnTimer(FlashTimerId);
    EXPECT_FALSE(tray.IsFlashing());
    ASSERT_EQ(2u, shell.calls.size());
    EXPECT_EQ("KillTimer", shell.calls[0].name);
    EXPECT_EQ(FlashTimerId, shell.calls[0].timer);
    EXPECT_EQ("modify", shell.calls[1].name);
    EXPECT_EQ(iconBlocking, shell.calls[1].record.hIcon);  // the icon at the start
    EXPECT_STREQ(kAllowingTooltip, tray.Tooltip());        // the tip is not the flash's

    shell.calls.clear();
    tray.OnTimer(FlashTimerId);  // a late tick of the killed timer
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(TrayIconTest, ASecondFlashRestoresThenRestartsFromTheBeginning) {
    InstallShown();
    tray.LoadFlashIcons(209, 210);
    tray.StartFlash(200, 1);
    tray.OnTimer(FlashTimerId);  // shows icon 210
    shell.now += 5;
    shell.calls.clear();

    ASSERT_TRUE(tray.StartFlash(200, 1));
    ASSERT_EQ((Names{"KillTimer", "modify", "SetTimer"}),
              (Names{shell.calls[0].name, shell.calls[1].name, shell.calls[2].name}));
    EXPECT_EQ(iconBlocking, shell.calls[1].record.hIcon);
    // Restarted: a new start time, and the first tick again shows icon 210.
    shell.calls.clear();
    tray.OnTimer(FlashTimerId);
    EXPECT_TRUE(tray.IsFlashing());
    EXPECT_EQ(iconAllowing, Last().record.hIcon);
    tray.StopFlash();
    EXPECT_EQ(iconBlocking, tray.CurrentIcon());
}

TEST_F(TrayIconTest, AFlashWithoutDurationRunsUntilStopped) {
    InstallShown();
    tray.LoadFlashIcons(209, 209);
    for (int duration : {0, -3}) {
        ASSERT_TRUE(tray.StartFlash(200, duration));
        shell.calls.clear();
        shell.now += 100000;
        tray.OnTimer(FlashTimerId);
        EXPECT_TRUE(tray.IsFlashing());
        // A one-icon list shows that icon at every tick.
        EXPECT_EQ(iconBlocking, Last().record.hIcon);
        EXPECT_TRUE(tray.StopFlash());
        EXPECT_FALSE(tray.IsFlashing());
    }
    EXPECT_FALSE(tray.StopFlash());  // nothing runs: no KillTimer
    EXPECT_NE("KillTimer", Last().name);
}

TEST_F(TrayIconTest, StrayTimersAndFailedTimersChangeNothing) {
    InstallShown();
    tray.LoadFlashIcons(209, 210);
    tray.OnTimer(FlashTimerId);  // no flash runs
    EXPECT_TRUE(shell.calls.empty());

    tray.StartFlash(200, 1);
    shell.calls.clear();
    tray.OnTimer(FlashTimerId + 1);
    EXPECT_TRUE(shell.calls.empty());
    tray.StopFlash();

    shell.timerAnswer = 0;
    shell.calls.clear();
    EXPECT_FALSE(tray.StartFlash(200, 1));
    EXPECT_FALSE(tray.IsFlashing());
    EXPECT_EQ(Names{"SetTimer"}, shell.TakeNames());
    EXPECT_EQ(iconBlocking, tray.CurrentIcon());
}

TEST_F(TrayIconTest, AFlashWhileHiddenOnlyChangesTheRecord) {
    Install();
    tray.LoadFlashIcons(209, 210);
    tray.StartFlash(200, 1);
    tray.OnTimer(FlashTimerId);
    EXPECT_EQ(iconAllowing, tray.CurrentIcon());
    EXPECT_EQ(Names{"SetTimer"}, shell.TakeNames());
    tray.StopFlash();
    EXPECT_EQ(iconBlocking, tray.CurrentIcon());
}

// After "TaskbarCreated" or a work-area change the icon comes back exactly
// when it is meant to be displayed.
TEST_F(TrayIconTest, RetryAddBringsBackADisplayedIconAfterTheTaskbarCameBack) {
    InstallShown();
    tray.ChangeTooltip("latest");
    shell.calls.clear();
    EXPECT_TRUE(tray.RetryAdd());
    ASSERT_EQ(Names{"add"}, Names{Last().name});
    EXPECT_EQ(7u, Last().record.uFlags);
    EXPECT_STREQ("latest", Last().record.szTip);
    EXPECT_TRUE(tray.IsDisplayed());
}

TEST_F(TrayIconTest, RetryAddLeavesAnIconTheShellStillShows) {
    InstallShown();
    shell.shellAnswers = {FALSE, TRUE};  // the add of a known icon fails; it is still there
    EXPECT_TRUE(tray.RetryAdd());
    EXPECT_EQ((Names{"add", "modify"}), shell.TakeNames());
    EXPECT_TRUE(tray.IsDisplayed());
    EXPECT_FALSE(tray.IsAddPending());
}

TEST_F(TrayIconTest, RetryAddCountsAnIconTheShellLostAsNotDisplayed) {
    InstallShown();
    shell.shellAnswers = {FALSE, FALSE};
    EXPECT_FALSE(tray.RetryAdd());
    EXPECT_FALSE(tray.IsDisplayed());
    EXPECT_TRUE(tray.IsRemoved());
    EXPECT_TRUE(tray.IsAddPending());
    // ChangeIcon now only records; the next retry adds.
    shell.calls.clear();
    EXPECT_TRUE(tray.ChangeIcon(iconAllowing));
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_TRUE(tray.RetryAdd());
    EXPECT_EQ(iconAllowing, Last().record.hIcon);
    EXPECT_TRUE(tray.IsDisplayed());
    EXPECT_FALSE(tray.IsAddPending());
}

TEST_F(TrayIconTest, RetryAddCompletesAPendingAdd) {
    Install();
    shell.shellAnswers = {FALSE};
    EXPECT_FALSE(tray.ShowInTray());
    shell.calls.clear();
    EXPECT_TRUE(tray.RetryAdd());
    EXPECT_EQ(Names{"add"}, shell.TakeNames());
    EXPECT_TRUE(tray.IsDisplayed());
    EXPECT_FALSE(tray.IsRemoved());
}

TEST_F(TrayIconTest, RetryAddNeverBringsBackAnIconTheUserTookAway) {
    Install();  // never shown
    EXPECT_FALSE(tray.RetryAdd());

    ASSERT_TRUE(tray.ShowInTray());
    tray.HideFromTray();  // F8
    shell.calls.clear();
    EXPECT_FALSE(tray.RetryAdd());
    EXPECT_TRUE(shell.calls.empty());

    // An add the shell refused, then hidden before the shell came back.
    shell.shellAnswers = {FALSE};
    tray.ShowInTray();
    tray.HideFromTray();
    shell.calls.clear();
    EXPECT_FALSE(tray.RetryAdd());
    EXPECT_TRUE(shell.calls.empty());

    // Exit deletes the icon.
    ASSERT_TRUE(tray.ShowInTray());
    tray.NotifyDelete();
    shell.calls.clear();
    EXPECT_FALSE(tray.RetryAdd());
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_FALSE(tray.IsDisplayed());
}

TEST_F(TrayIconTest, DestructionDeletesTheIconAndTheWindow) {
    RecordingPlatform local;
    HWND window = nullptr;
    {
        TrayIcon icon(local);
        EXPECT_EQ(&icon, ProcessTrayIcon());
        icon.Install(moduleInstance, nullptr, TrayCallbackMessage, "tip", iconBlocking, TrayIconId,
                     FALSE);
        window = icon.HiddenWindow();
        local.calls.clear();
    }
    EXPECT_EQ(Names{"delete"}, local.TakeNames());
    EXPECT_FALSE(IsWindow(window));
    // The process's object is again the one constructed before.
    EXPECT_EQ(&tray, ProcessTrayIcon());
}

TEST(TrayIconProcess, OneStaticObjectAndTheTaskbarMessage) {
    EXPECT_EQ(RegisterWindowMessageA("TaskbarCreated"), TaskbarCreatedMessage());
    EXPECT_NE(0u, TaskbarCreatedMessage());
    EXPECT_EQ(&TheTrayIcon(), &TheTrayIcon());
    EXPECT_EQ(&TheTrayIcon(), ProcessTrayIcon());
}

// A popup is blocked on the new browser window's thread, not on the thread
// that owns the hidden window: the flash must still be set up there, where
// its timer can be set and its ticks read the icon list.
TEST_F(TrayIconTest, FlashAskedForOnAnotherThreadRunsOnTheWindowsThread) {
    InstallShown();
    shell.realTimers = true;
    std::thread browserThread([&] {
        EXPECT_TRUE(tray.LoadFlashIcons(209, 210));
        EXPECT_TRUE(tray.StartFlash(200, 1));
        EXPECT_FALSE(tray.LoadFlashIcons(210, 209));  // refused at once, as on its own thread
    });
    browserThread.join();
    EXPECT_TRUE(shell.calls.empty());  // nothing done yet: posted to the window
    ASSERT_TRUE(test::WaitUntil([&] { return tray.IsFlashing(); }));
    ASSERT_EQ("SetTimer", shell.calls.front().name);
    EXPECT_EQ(200u, shell.calls.front().elapse);
    ASSERT_EQ(2u, tray.FlashIcons().size());
    // The ticks alternate the icons here, on the window's thread.
    ASSERT_TRUE(test::WaitUntil([&] {
        for (const auto& call : shell.calls)
            if (call.name == "modify" && call.record.hIcon == tray.FlashIcons()[1]) return true;
        return false;
    }));
    tray.StopFlash();
}

// Any process can post to the window: values that no caller of ours sends
// are ignored (a range of four billion icons would hang the thread, an
// identifier above 0xFFFF be read as a string's address).
TEST_F(TrayIconTest, PrivateMessagesOutOfRangeAreIgnored) {
    InstallShown();
    const struct {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } ignored[] = {
        {TrayLoadFlashIconsMessage, 0, static_cast<LPARAM>(0xFFFFFFFFu)},
        {TrayLoadFlashIconsMessage, 0x10000, 0x10001},
        {TrayStartFlashMessage, 0, 1},
        {TrayStartFlashMessage, 200, -1},
        {TrayPopupStateMessage, 2, 0},
        {TrayVisibilityMessage, 0xFFFFFFFFu, 0},
    };
    for (const auto& c : ignored) SendMessageA(tray.HiddenWindow(), c.message, c.wParam, c.lParam);
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_TRUE(tray.FlashIcons().empty());
    SendMessageA(tray.HiddenWindow(), TrayLoadFlashIconsMessage, IDI_BLOCKING, IDI_ALLOWING);
    EXPECT_EQ(2u, tray.FlashIcons().size());
}

// The hot key and the browser threads change the icon through the window's
// thread. The icon is added once, and a state chosen during a flash is the
// one shown when the flash ends.
TEST_F(TrayIconTest, ChangesFromOtherThreadsRunOnTheWindowsThreadAndOutlastAFlash) {
    Install();
    std::thread([&] {
        EXPECT_TRUE(tray.ShowInTray());
        EXPECT_TRUE(tray.ShowInTray());
    }).join();
    EXPECT_TRUE(shell.calls.empty());
    test::PumpMessages(0);
    EXPECT_EQ(Names{"add"}, shell.TakeNames());
    ASSERT_TRUE(tray.LoadFlashIcons(IDI_BLOCKING, IDI_ALLOWING));
    ASSERT_TRUE(tray.StartFlash(200, 1));
    std::thread([&] { EXPECT_TRUE(tray.ShowPopupState(true)); }).join();
    test::PumpMessages(0);
    tray.OnTimer(FlashTimerId);
    shell.now += 2;
    tray.OnTimer(FlashTimerId);
    EXPECT_FALSE(tray.IsFlashing());
    EXPECT_EQ(AllowingIcon(), tray.CurrentIcon());
    EXPECT_STREQ(kAllowingTooltip, tray.Tooltip());
}
