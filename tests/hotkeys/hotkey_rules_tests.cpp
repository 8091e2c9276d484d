#include <gtest/gtest.h>

#include "hotkeys/hotkey_hook.h"
#include "hotkeys/hotkey_rules.h"
#include "state/shared_state.h"

using namespace korvane;

namespace {
constexpr LPARAM kFirstDown = 0x00000001;  // repeat count 1, no flags
constexpr LPARAM kRepeat = 0x40000001;
constexpr LPARAM kRelease = static_cast<LPARAM>(0xC0000001u);
}  // namespace

TEST(HotKeys, FirstKeyDownOfEachHotKeyActs) {
    EXPECT_EQ(HotKey::ToggleTrayIcon, ClassifyHotKey(HC_ACTION, VK_F8, kFirstDown));
    EXPECT_EQ(HotKey::ToggleSound, ClassifyHotKey(HC_ACTION, VK_F9, kFirstDown));
    EXPECT_EQ(HotKey::ToggleBlocking, ClassifyHotKey(HC_ACTION, VK_F10, kFirstDown));
    EXPECT_EQ(HotKey::Override, ClassifyHotKey(HC_ACTION, VK_CONTROL, kFirstDown));
    EXPECT_EQ(HotKey::Override, ClassifyHotKey(HC_ACTION, VK_SHIFT, kFirstDown));
}

TEST(HotKeys, RepeatsReleasesOtherKeysAndNegativeCodesDoNothing) {
    EXPECT_EQ(HotKey::None, ClassifyHotKey(HC_ACTION, VK_F10, kRepeat));
    EXPECT_EQ(HotKey::None, ClassifyHotKey(HC_ACTION, VK_F10, kRelease));
    EXPECT_EQ(HotKey::None, ClassifyHotKey(HC_ACTION, VK_F10, static_cast<LPARAM>(0x80000001u)));
    EXPECT_EQ(HotKey::None, ClassifyHotKey(-1, VK_F8, kFirstDown));
    // Looked at without being taken: it comes again with HC_ACTION.
    EXPECT_EQ(HotKey::None, ClassifyHotKey(HC_NOREMOVE, VK_F10, kFirstDown));
    EXPECT_EQ(HotKey::None, ClassifyHotKey(HC_ACTION, VK_F11, kFirstDown));
    EXPECT_EQ(HotKey::None, ClassifyHotKey(HC_ACTION, VK_LCONTROL, kFirstDown));
    EXPECT_EQ(HotKey::None, ClassifyHotKey(HC_ACTION, 'A', kFirstDown));
}

// The hook procedure itself, in this process: what each call does to the
// shared switches. Keys with a negative code are not even looked at.
TEST(HotKeyProcedure, ActsOnFirstKeyDownsOnlyAndPassesEverythingOn) {
    const SharedState saved = sharedState;
    sharedState->popupsAllowed = 0;
    sharedState->soundOn = 1;
    sharedState->popupOverride = 0;

    HotKeyProc(-1, VK_F10, 1);
    HotKeyProc(-5, VK_CONTROL, 1);
    EXPECT_EQ(0, sharedState->popupsAllowed);
    EXPECT_EQ(0, sharedState->popupOverride);

    HotKeyProc(HC_ACTION, VK_F10, 1);
    EXPECT_EQ(1, sharedState->popupsAllowed);
    HotKeyProc(HC_ACTION, VK_F10, 0x40000001);                    // repeat
    HotKeyProc(HC_ACTION, VK_F10, static_cast<LPARAM>(0xC0000001u));  // release
    EXPECT_EQ(1, sharedState->popupsAllowed);
    HotKeyProc(HC_NOREMOVE, VK_F10, 1);
    EXPECT_EQ(1, sharedState->popupsAllowed);

    HotKeyProc(HC_ACTION, VK_F9, 1);
    EXPECT_EQ(0, sharedState->soundOn);
    HotKeyProc(HC_ACTION, VK_SHIFT, 1);
    EXPECT_EQ(1, sharedState->popupOverride);

    sharedState = saved;
}
