// The hidden window's procedure, the icon's mouse messages, the tray menu
// and its commands, through real messages to a real window.
#include <gtest/gtest.h>

#include <string>

#include "recording_platform.h"
#include "resource.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "support/test_support.h"
#include "tray/tray_icon.h"
#include "tray/tray_menu.h"
#include "tray/ui_test_support.h"

using namespace korvane;
using korvane::test::RecordingPlatform;
using Names = std::vector<std::string>;

namespace {

constexpr UINT kMenuGetHmenu = 0x01E1;  // MN_GETHMENU

// Counts the menu loops started for one window on this thread.
class MenuLoopCounter {
public:
    explicit MenuLoopCounter(HWND owner) {
        owner_ = owner;
        count_ = 0;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
    }
    ~MenuLoopCounter() { UnhookWindowsHookEx(hook_); }
    int count() const { return count_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        auto* message = reinterpret_cast<CWPSTRUCT*>(lParam);
        if (code >= 0 && message->hwnd == owner_ && message->message == WM_ENTERMENULOOP) ++count_;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static HWND owner_;
    static int count_;
    HHOOK hook_;
};
HWND MenuLoopCounter::owner_ = nullptr;
int MenuLoopCounter::count_ = 0;

struct MenuState {
    bool popupsAllow, popupsDisallow, bannersAllow, bannersDisallow;
    UINT defaultItem;
    int items;
    std::string first, last;
};

std::string MenuText(HMENU menu, UINT position) {
    char text[128] = {};
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

MenuState ReadMenu(HMENU menu) {
    auto checked = [menu](UINT command) {
        return (GetMenuState(menu, command, MF_BYCOMMAND) & MF_CHECKED) != 0;
    };
    MenuState state{};
    state.popupsAllow = checked(ID_TRAY_POPUPS_ALLOW);
    state.popupsDisallow = checked(ID_TRAY_POPUPS_DISALLOW);
    state.bannersAllow = checked(ID_TRAY_BANNERS_ALLOW);
    state.bannersDisallow = checked(ID_TRAY_BANNERS_DISALLOW);
    state.defaultItem = GetMenuDefaultItem(menu, TRUE, 0);
    state.items = GetMenuItemCount(menu);
    state.first = MenuText(menu, 0);
    state.last = MenuText(menu, static_cast<UINT>(state.items - 1));
    return state;
}

class TrayWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::PrepareUserInterface();
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        saved_ = sharedState;
        sharedState->popupsAllowed = 0;
        sharedState->blockBannerAds = 0;
        sharedState->flashOn = 1;
        sharedState->helperActive = 1;
        tray.Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip, iconBlocking,
                     TrayIconId, TRUE);
        ASSERT_TRUE(tray.ShowInTray());
        shell.calls.clear();
    }
    void TearDown() override {
        sharedState->popupsAllowed = saved_.popupsAllowed;
        sharedState->blockBannerAds = saved_.blockBannerAds;
        sharedState->flashOn = saved_.flashOn;
        sharedState->helperActive = saved_.helperActive;
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    }

    HWND Window() const { return tray.HiddenWindow(); }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageA(Window(), message, wParam, lParam);
    }
    LRESULT Mouse(UINT mouseMessage) { return Send(TrayCallbackMessage, TrayIconId, mouseMessage); }
    void Command(UINT id) { Send(WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    // Opens the menu with a right button release and hands it to examine
    // on a second thread; examine must close it (or choose an item).
    void WithMenu(const std::function<void(HWND, HMENU)>& examine) {
        test::RunWhileModal([this] { Mouse(WM_RBUTTONUP); },
                            [&] {
                                HWND menuWindow = test::WaitForOwnWindow("#32768", nullptr);
                                ASSERT_NE(nullptr, menuWindow) << "no menu appeared";
                                HMENU menu = reinterpret_cast<HMENU>(
                                    SendMessageA(menuWindow, kMenuGetHmenu, 0, 0));
                                examine(menuWindow, menu);
                            });
    }
    // Presses keys in an open menu, then lets the chosen command run.
    static void Keys(HWND menuWindow, std::initializer_list<UINT> keys) {
        for (UINT key : keys) test::PostKey(menuWindow, key);
    }

    RecordingPlatform shell;
    TrayIcon tray{shell};
    SharedState saved_{};
};

}  // namespace

TEST_F(TrayWindowTest, TimerTaskbarAndWorkAreaMessagesReachTheObject) {
    tray.LoadFlashIcons(IDI_BLOCKING, IDI_ALLOWING);
    tray.StartFlash(200, 0);
    shell.calls.clear();
    EXPECT_EQ(0, Send(WM_TIMER, FlashTimerId));
    ASSERT_EQ(Names{"modify"}, shell.TakeNames());
    Send(WM_TIMER, 99);  // someone else's timer
    EXPECT_TRUE(shell.calls.empty());
    tray.StopFlash();
    shell.calls.clear();

    EXPECT_EQ(0, Send(TaskbarCreatedMessage()));
    EXPECT_EQ(Names{"add"}, shell.TakeNames());
    EXPECT_EQ(0, Send(WM_SETTINGCHANGE, SPI_SETWORKAREA));
    EXPECT_EQ(Names{"add"}, shell.TakeNames());
    Send(WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER);
    EXPECT_TRUE(shell.calls.empty());

    // The window of an object that is not the process's one only gets the
    // default handling.
    RecordingPlatform newerShell;
    TrayIcon newer(newerShell);
    newer.Install(moduleInstance, nullptr, TrayCallbackMessage, "tip", iconBlocking, TrayIconId,
                  FALSE);
    newerShell.calls.clear();
    Send(TaskbarCreatedMessage());
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_TRUE(newerShell.calls.empty());
    SendMessageA(newer.HiddenWindow(), TaskbarCreatedMessage(), 0, 0);
    EXPECT_EQ(Names{"add"}, newerShell.TakeNames());
}

TEST_F(TrayWindowTest, DoubleClickTogglesBlockingIconAndTip) {
    EXPECT_EQ(1, Mouse(WM_LBUTTONDBLCLK));
    EXPECT_EQ(1, sharedState->popupsAllowed);
    ASSERT_EQ((Names{"modify", "modify"}), shell.TakeNames() );
    EXPECT_EQ(iconAllowing, tray.CurrentIcon());
    EXPECT_STREQ("Enable Popup Windows", tray.Tooltip());

    EXPECT_EQ(1, Mouse(WM_LBUTTONDBLCLK));
    EXPECT_EQ(0, sharedState->popupsAllowed);
    EXPECT_EQ(iconBlocking, tray.CurrentIcon());
    EXPECT_STREQ("Disable Popup Windows", tray.Tooltip());
    // The switch is never stored.
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

TEST_F(TrayWindowTest, MessagesForAnotherIconAreIgnored) {
    EXPECT_EQ(0, Send(TrayCallbackMessage, TrayIconId + 1, WM_LBUTTONDBLCLK));
    EXPECT_EQ(0, sharedState->popupsAllowed);
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_EQ(1, Mouse(WM_MOUSEMOVE));
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(TrayWindowTest, OnlyARightButtonReleaseOpensTheMenu) {
    MenuLoopCounter menus(Window());
    const UINT others[] = {WM_MOUSEMOVE,   WM_LBUTTONDOWN, WM_LBUTTONUP,    WM_RBUTTONDOWN,
                           WM_RBUTTONDBLCLK, WM_MBUTTONUP, WM_CONTEXTMENU, WM_USER /* NIN_SELECT */,
                           WM_LBUTTONDBLCLK};
    // A menu opened by mistake is closed by RunWhileModal, and counted.
    test::RunWhileModal(
        [&] {
            for (UINT message : others) Mouse(message);
        },
        [] {});
    EXPECT_EQ(0, menus.count());
    Mouse(WM_LBUTTONDBLCLK);  // back to blocking

    WithMenu([](HWND menuWindow, HMENU) { Keys(menuWindow, {VK_ESCAPE}); });
    EXPECT_EQ(1, menus.count());
}

TEST_F(TrayWindowTest, MenuCheckMarksFollowTheSwitchesEveryTime) {
    for (LONG allowed : {0, 1}) {
        for (BYTE banners : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "popupsAllowed " << allowed << " banners " << int(banners));
            sharedState->popupsAllowed = allowed;
            sharedState->blockBannerAds = banners;
            MenuState state{};
            WithMenu([&](HWND menuWindow, HMENU menu) {
                state = ReadMenu(menu);
                Keys(menuWindow, {VK_ESCAPE});
            });
            EXPECT_EQ(allowed != 0, state.popupsAllow);
            EXPECT_EQ(allowed == 0, state.popupsDisallow);
            EXPECT_EQ(banners == 0, state.bannersAllow);
            EXPECT_EQ(banners != 0, state.bannersDisallow);
            EXPECT_EQ(0u, state.defaultItem);
            EXPECT_EQ(11, state.items);
            EXPECT_EQ("About Vantrell", state.first);
            EXPECT_EQ("Exit", state.last);
        }
    }
}

TEST_F(TrayWindowTest, ChoosingMenuItemsRunsTheirCommands) {
    // Banner Ads, Disallow: down to "Banner Ads", into its submenu, down.
    WithMenu([](HWND menuWindow, HMENU) {
        Keys(menuWindow, {VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN, VK_RETURN});
    });
    test::PumpMessages(0);
    EXPECT_EQ(1, sharedState->blockBannerAds);
    EXPECT_EQ(3u, ReadFlashSetting());

    // About Vantrell opens its dialog.
    bool aboutSeen = false;
    test::RunWhileModal(
        [this] {
            Mouse(WM_RBUTTONUP);
            test::PumpMessages(0);
        },
        [&] {
            HWND menuWindow = test::WaitForOwnWindow("#32768", nullptr);
            ASSERT_NE(nullptr, menuWindow);
            Keys(menuWindow, {VK_DOWN, VK_RETURN});
            HWND about = test::WaitForOwnWindow("#32770", "About Vantrell");
            aboutSeen = about != nullptr;
            if (about) test::Press(about, IDOK);
        });
    EXPECT_TRUE(aboutSeen);

    // Exit, the last item.
    WithMenu([](HWND menuWindow, HMENU) { Keys(menuWindow, {VK_UP, VK_RETURN}); });
    test::PumpMessages(0);
    EXPECT_EQ(0, sharedState->helperActive);
    EXPECT_FALSE(tray.IsDisplayed());
}

TEST_F(TrayWindowTest, PopupCommandsSetTheStateWithoutToggling) {
    for (int repeat = 0; repeat < 2; ++repeat) {
        Command(ID_TRAY_POPUPS_ALLOW);
        EXPECT_EQ(1, sharedState->popupsAllowed);
        EXPECT_EQ(iconAllowing, tray.CurrentIcon());
        EXPECT_STREQ(kAllowingTooltip, tray.Tooltip());
    }
    for (int repeat = 0; repeat < 2; ++repeat) {
        Command(ID_TRAY_POPUPS_DISALLOW);
        EXPECT_EQ(0, sharedState->popupsAllowed);
        EXPECT_EQ(iconBlocking, tray.CurrentIcon());
        EXPECT_STREQ(kBlockingTooltip, tray.Tooltip());
    }
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    Command(32788);  // no such command
    EXPECT_EQ(0, sharedState->popupsAllowed);
}

TEST_F(TrayWindowTest, BannerAdCommandsStoreBothSwitchesInFlash) {
    struct Case {
        BYTE flashOn;
        UINT command;
        BYTE banners;
        DWORD stored;
    };
    const Case cases[] = {{0, ID_TRAY_BANNERS_ALLOW, 0, 0},
                          {1, ID_TRAY_BANNERS_ALLOW, 0, 1},
                          {0, ID_TRAY_BANNERS_DISALLOW, 1, 2},
                          {1, ID_TRAY_BANNERS_DISALLOW, 1, 3}};
    for (const Case& c : cases) {
        sharedState->flashOn = c.flashOn;
        sharedState->blockBannerAds = c.banners ? 0 : 1;
        Command(c.command);
        EXPECT_EQ(c.banners, sharedState->blockBannerAds);
        const test::RawValue flash = test::ReadRawValue(HKEY_CURRENT_USER, kSettingsKey, "Flash");
        ASSERT_TRUE(flash.present);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), flash.type);
        ASSERT_EQ(4u, flash.bytes.size());
        EXPECT_EQ(c.stored, *reinterpret_cast<const DWORD*>(flash.bytes.data()));
        EXPECT_EQ(c.flashOn, sharedState->flashOn);
    }
}

TEST_F(TrayWindowTest, ExitRemovesTheIconAndSwitchesTheHelperOff) {
    sharedState->trayIconHidden = 0;
    Command(ID_TRAY_EXIT);
    EXPECT_EQ(Names{"delete"}, shell.TakeNames());
    EXPECT_FALSE(tray.IsDisplayed());
    EXPECT_EQ(0, sharedState->helperActive);
    EXPECT_EQ(0, sharedState->trayIconHidden);
    EXPECT_FALSE(test::KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    // The icon stays away when the taskbar comes back.
    Send(TaskbarCreatedMessage());
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(TrayWindowTest, OnTheWebOpensTheProductPageInTheDefaultBrowser) {
    test::BrowserStandIn browser;
    browser.SetClassesValue("http\\shell\\open\\command",
                            (browser.QuotedRecorder() + " web \"%1\"").c_str());
    Command(ID_TRAY_ON_THE_WEB);
    const std::vector<std::string> records = browser.TakeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_NE(std::string::npos, records[0].find(" web "));
    EXPECT_NE(std::string::npos, records[0].find("http://www.vantrell.com/"));
}
