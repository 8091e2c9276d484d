// The process's tray icon in the real notification area. Under Wine on a
// bare X server the area is Wine's own stand-alone tray window, in which
// every icon is a child window: that is where these tests look. Windows
// has no such windows, so the tests are Wine's only.
#include <gtest/gtest.h>

#include <vector>

#include "resource.h"
#include "state/shared_state.h"
#include "support/test_support.h"
#include "tray/tray_icon.h"
#include "tray/ui_test_support.h"

using namespace korvane;

namespace {

using test::IconColour;
using test::LooksGreen;
using test::LooksRed;
using test::WineTrayIcons;

class NotificationAreaTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::RunningOnWine()) GTEST_SKIP() << "looks into Wine's own tray windows";
        test::PrepareUserInterface();
        saved_ = sharedState;
        sharedState->popupsAllowed = 0;
        before_ = WineTrayIcons().size();
        tray_.Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip, iconBlocking,
                      TrayIconId, TRUE);
    }
    void TearDown() override {
        sharedState->popupsAllowed = saved_.popupsAllowed;
        sharedState->helperActive = saved_.helperActive;
    }

    // The icon this test added: the area's newest one.
    HWND OurIcon() {
        std::vector<HWND> icons;
        // Wine's tray takes a while: it waits for a window manager in vain.
        test::WaitUntil([&] { return (icons = WineTrayIcons()).size() == before_ + 1; }, 15000);
        return icons.size() == before_ + 1 ? icons.back() : nullptr;
    }
    bool IconCountIs(size_t count) {
        return test::WaitUntil([&] { return WineTrayIcons().size() == count; }, 15000);
    }

    TrayIcon tray_;  // the real shell
    size_t before_ = 0;
    SharedState saved_{};
};

}  // namespace

TEST_F(NotificationAreaTest, TheIconAppearsChangesAndGoes) {
    EXPECT_TRUE(IconCountIs(before_));  // installed hidden: nothing shown yet
    ASSERT_TRUE(tray_.ShowInTray());
    HWND icon = OurIcon();
    ASSERT_NE(nullptr, icon);
    EXPECT_TRUE(test::WaitUntil([&] { return LooksRed(IconColour(icon)); }))
        << std::hex << IconColour(icon);

    EXPECT_TRUE(tray_.ChangeIcon(iconAllowing));
    EXPECT_TRUE(test::WaitUntil([&] { return LooksGreen(IconColour(icon)); }))
        << std::hex << IconColour(icon);
    EXPECT_TRUE(tray_.ChangeTooltip(kAllowingTooltip));

    ASSERT_TRUE(tray_.HideFromTray());
    EXPECT_TRUE(IconCountIs(before_));
    // Changes while hidden show with the next add.
    tray_.ChangeIcon(iconBlocking);
    ASSERT_TRUE(tray_.ShowInTray());
    icon = OurIcon();
    ASSERT_NE(nullptr, icon);
    EXPECT_TRUE(test::WaitUntil([&] { return LooksRed(IconColour(icon)); }));
    // The shell refuses a second add of the same icon, as Windows does.
    NOTIFYICONDATAA record = tray_.NotifyData();
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &record));
}

TEST_F(NotificationAreaTest, MouseActionsOnTheIconReachTheHiddenWindow) {
    ASSERT_TRUE(tray_.ShowInTray());
    HWND icon = OurIcon();
    ASSERT_NE(nullptr, icon);

    PostMessageA(icon, WM_LBUTTONDBLCLK, 0, 0);
    EXPECT_TRUE(test::WaitUntil([] { return sharedState->popupsAllowed == 1; }));
    EXPECT_EQ(iconAllowing, tray_.CurrentIcon());
    EXPECT_TRUE(test::WaitUntil([&] { return LooksGreen(IconColour(icon)); }));

    bool menuSeen = false;
    test::RunWhileModal(
        [&] {
            PostMessageA(icon, WM_RBUTTONUP, 0, 0);
            test::WaitUntil([&] { return menuSeen; }, 15000);
            test::PumpMessages(50);
        },
        [&] {
            HWND menu = test::WaitForOwnWindow("#32768", nullptr);
            menuSeen = menu != nullptr;
            if (menu) test::PostKey(menu, VK_ESCAPE);
        });
    EXPECT_TRUE(menuSeen);
}

TEST_F(NotificationAreaTest, TheIconComesBackAfterTheAreaLostItOnlyIfMeantToShow) {
    ASSERT_TRUE(tray_.ShowInTray());
    ASSERT_NE(nullptr, OurIcon());

    // A work-area change leaves the icon where it is: still one icon.
    SendMessageA(tray_.HiddenWindow(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    EXPECT_TRUE(IconCountIs(before_ + 1));
    EXPECT_TRUE(tray_.IsDisplayed());

    // The area loses the icon (as a new taskbar would not have it); the
    // taskbar's announcement brings it back.
    NOTIFYICONDATAA record = tray_.NotifyData();
    record.uFlags = 0;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &record));
    ASSERT_TRUE(IconCountIs(before_));
    SendMessageA(tray_.HiddenWindow(), TaskbarCreatedMessage(), 0, 0);
    EXPECT_TRUE(IconCountIs(before_ + 1));
    EXPECT_TRUE(tray_.IsDisplayed());

    // Hidden by the user: it stays away.
    ASSERT_TRUE(tray_.HideFromTray());
    ASSERT_TRUE(IconCountIs(before_));
    SendMessageA(tray_.HiddenWindow(), TaskbarCreatedMessage(), 0, 0);
    SendMessageA(tray_.HiddenWindow(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    EXPECT_TRUE(IconCountIs(before_));
    EXPECT_FALSE(tray_.IsDisplayed());
}

TEST_F(NotificationAreaTest, ExitTakesTheIconAway) {
    ASSERT_TRUE(tray_.ShowInTray());
    ASSERT_NE(nullptr, OurIcon());
    sharedState->helperActive = 1;
    SendMessageA(tray_.HiddenWindow(), WM_COMMAND, ID_TRAY_EXIT, 0);
    EXPECT_TRUE(IconCountIs(before_));
    EXPECT_EQ(0, sharedState->helperActive);
}
