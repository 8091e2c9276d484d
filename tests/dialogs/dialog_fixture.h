// What the dialogs' tests share: a clean white list, file and settings key
// for every case, and the way to open a dialog as the tray menu does.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "state/settings.h"
#include "state/shared_state.h"
#include "support/test_support.h"
#include "tray/tray_icon.h"
#include "tray/ui_test_support.h"
#include "whitelist/whitelist_store.h"

namespace korvane::test {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareUserInterface();
        listFile_ = TheWhiteList().FilePath().c_str();
        ASSERT_FALSE(listFile_.empty());
        ResetList();
        DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        saved_ = sharedState;
    }
    void TearDown() override {
        ResetList();
        DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        sharedState->flashOn = saved_.flashOn;
        sharedState->soundOn = saved_.soundOn;
        sharedState->soundIsBeep = saved_.soundIsBeep;
        sharedState->blockBannerAds = saved_.blockBannerAds;
        SetSoundFilePath("");
    }

    // The store of a process that has just started, and no file.
    static void ResetList() {
        TheWhiteList().Reset();
        SetFileAttributesA(TheWhiteList().FilePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(TheWhiteList().FilePath().c_str());
    }
    static void SetList(std::initializer_list<const char*> entries) {
        std::vector<AnsiString> list;
        for (const char* entry : entries) list.emplace_back(entry);
        ASSERT_TRUE(TheWhiteList().ReplaceAll(list));
    }
    static std::vector<std::string> Entries() {
        std::vector<std::string> out;
        for (const AnsiString& entry : TheWhiteList().Snapshot()) out.emplace_back(entry.c_str());
        return out;
    }
    std::string FileText() const { return ReadFileBytes(listFile_); }
    bool FileExists() const { return korvane::test::FileExists(listFile_); }

    // Sends the tray window the menu command that opens the dialog titled
    // title, and hands the dialog to drive on a second thread.
    static void OpenFromTray(UINT command, const char* title,
                             const std::function<void(HWND)>& drive) {
        RunWhileModal(
            [command] {
                SendMessageA(TheTrayIcon().HiddenWindow(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
            },
            [&] {
                HWND dialog = WaitForOwnWindow("#32770", title);
                ASSERT_NE(nullptr, dialog) << "no dialog \"" << title << "\"";
                drive(dialog);
            });
    }

    std::string listFile_;
    SharedState saved_{};
};

using Lines = std::vector<std::string>;

}  // namespace korvane::test
