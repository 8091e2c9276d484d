// "Vantrell Notification Setting": the check boxes from and into the shared
// switches and the registry, and the choice of the wave file.
#include "dialog_fixture.h"

#include <commdlg.h>
#include <dlgs.h>
#include "dialogs/notification_dialog.h"
#include "resource.h"

using namespace korvane;
using namespace korvane::test;

namespace {

constexpr char kTitle[] = "Vantrell Notification Setting";
constexpr char kChooserTitle[] = "Choose a Sound File";

bool Checked(HWND dialog, int id) {
    return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
void SetChecked(HWND dialog, int id, bool checked) {
    SendMessageA(GetDlgItem(dialog, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

DWORD StoredDword(const char* name) {
    const RawValue value = ReadRawValue(HKEY_CURRENT_USER, kSettingsKey, name);
    EXPECT_TRUE(value.present) << name;
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value.type);
    if (value.bytes.size() != 4) return 0xdeadbeef;
    return *reinterpret_cast<const DWORD*>(value.bytes.data());
}

class NotificationDialogTest : public DialogTest {
protected:
    void Open(const std::function<void(HWND)>& drive) {
        OpenFromTray(ID_TRAY_NOTIFICATION, kTitle, drive);
    }
};

}  // namespace

TEST_F(NotificationDialogTest, BoxesShowTheSwitches) {
    struct Case {
        BYTE flashOn, soundOn, soundIsBeep;
        bool flash, beep, play;
    };
    const Case cases[] = {{1, 1, 1, true, true, false},
                          {0, 1, 0, false, false, true},
                          {1, 0, 1, true, false, false},
                          {0, 0, 0, false, false, false}};
    for (const Case& c : cases) {
        sharedState->flashOn = c.flashOn;
        sharedState->soundOn = c.soundOn;
        sharedState->soundIsBeep = c.soundIsBeep;
        Open([&](HWND dialog) {
            EXPECT_EQ(c.flash, Checked(dialog, IDC_FLASH_CHECK));
            EXPECT_EQ(c.beep, Checked(dialog, IDC_BEEP_CHECK));
            EXPECT_EQ(c.play, Checked(dialog, IDC_PLAY_CHECK));
            Press(dialog, IDC_CLOSE);
        });
    }
}

TEST_F(NotificationDialogTest, ClosingStoresTheBoxesBothWays) {
    struct Case {
        bool beep, play;
        BYTE soundIsBeepBefore;
        BYTE soundOn, soundIsBeep;
        DWORD sound;
    };
    const Case cases[] = {
        {false, false, 1, 0, 1, 0},  // the kind of sound is kept
        {false, false, 0, 0, 0, 0},
        {true, false, 0, 1, 1, 1},
        {false, true, 1, 1, 0, 2},
        {true, true, 1, 1, 0, 2},    // both: the wave file wins
    };
    int round = 0;
    for (const Case& c : cases) {
        for (bool closeBox : {false, true}) {
            SCOPED_TRACE(testing::Message() << "case " << round << (closeBox ? " close box" : " Close"));
            sharedState->soundIsBeep = c.soundIsBeepBefore;
            sharedState->soundOn = 1;
            sharedState->blockBannerAds = static_cast<BYTE>(round % 2);
            const bool flash = (round / 2) % 2 == 0;
            Open([&](HWND dialog) {
                // Independent boxes: any combination can be ticked.
                SetChecked(dialog, IDC_FLASH_CHECK, flash);
                SetChecked(dialog, IDC_BEEP_CHECK, c.beep);
                SetChecked(dialog, IDC_PLAY_CHECK, c.play);
                if (closeBox)
                    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                else
                    Press(dialog, IDC_CLOSE);
            });
            EXPECT_EQ(c.soundOn, sharedState->soundOn);
            EXPECT_EQ(c.soundIsBeep, sharedState->soundIsBeep);
            EXPECT_EQ(flash ? 1 : 0, sharedState->flashOn);
            EXPECT_EQ(c.sound, StoredDword("Sound"));
            EXPECT_EQ((flash ? 1u : 0u) + 2u * sharedState->blockBannerAds, StoredDword("Flash"));
            ++round;
        }
    }
}

TEST_F(NotificationDialogTest, BothBoxesTickedReopenAsPlaySoundOnly) {
    sharedState->soundOn = 1;
    sharedState->soundIsBeep = 1;
    Open([](HWND dialog) {
        SetChecked(dialog, IDC_BEEP_CHECK, true);
        SetChecked(dialog, IDC_PLAY_CHECK, true);
        Press(dialog, IDC_CLOSE);
    });
    Open([](HWND dialog) {
        EXPECT_FALSE(Checked(dialog, IDC_BEEP_CHECK));
        EXPECT_TRUE(Checked(dialog, IDC_PLAY_CHECK));
        Press(dialog, IDC_CLOSE);
    });
}

// "Choose File" stores the chosen file at once, before the dialog closes,
// and ticks nothing.
TEST_F(NotificationDialogTest, AChosenFileIsStoredAtOnce) {
    TempDirectory dir;
    const std::string wave = dir.File("ding.wav");
    ASSERT_TRUE(WriteFileBytes(wave, "RIFF"));
    sharedState->soundOn = 0;
    std::string folder, filter;
    Open([&](HWND dialog) {
        PressLater(dialog, IDC_CHOOSE_FILE);
        HWND chooser = WaitForOwnWindow("#32770", kChooserTitle);
        ASSERT_NE(nullptr, chooser);
        char path[MAX_PATH] = {};
        SendMessageA(chooser, CDM_GETFOLDERPATH, sizeof path, reinterpret_cast<LPARAM>(path));
        folder = path;
        filter = WindowText(GetDlgItem(chooser, cmb1));
        // The file name box: a combo box in the newer layout, an edit field
        // in the older one.
        HWND name = GetDlgItem(chooser, cmb13);
        if (!name) name = GetDlgItem(chooser, edt1);
        ASSERT_NE(nullptr, name);
        SetWindowTextA(name, wave.c_str());
        PressLater(chooser, IDOK);
        ASSERT_TRUE(WaitForWindowGone(chooser));
        Settle(dialog);

        const RawValue file = ReadRawValue(HKEY_CURRENT_USER, kSettingsKey, "File");
        EXPECT_TRUE(file.present);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), file.type);
        EXPECT_EQ(wave, std::string(file.bytes.c_str()));
        char played[MAX_PATH] = {};
        GetSoundFilePath(played, sizeof played);
        EXPECT_EQ(wave, played);
        EXPECT_FALSE(Checked(dialog, IDC_PLAY_CHECK));
        Press(dialog, IDC_CLOSE);
    });
    // The chooser starts in the library's folder (here, the program's).
    EXPECT_EQ(ProgramDirectory(), folder + "\\");
    EXPECT_EQ("Wave Files (*.wav)", filter);
    EXPECT_EQ(0, sharedState->soundOn);
}

TEST_F(NotificationDialogTest, ACancelledChoiceStoresNothing) {
    SetSoundFilePath("C:\\before.wav");
    Open([](HWND dialog) {
        PressLater(dialog, IDC_CHOOSE_FILE);
        HWND chooser = WaitForOwnWindow("#32770", kChooserTitle);
        ASSERT_NE(nullptr, chooser);
        PressLater(chooser, IDCANCEL);
        ASSERT_TRUE(WaitForWindowGone(chooser));
        Settle(dialog);
        Press(dialog, IDC_CLOSE);
    });
    EXPECT_FALSE(ReadRawValue(HKEY_CURRENT_USER, kSettingsKey, "File").present);
    char played[MAX_PATH] = {};
    GetSoundFilePath(played, sizeof played);
    EXPECT_STREQ("C:\\before.wav", played);
}
