#include <gtest/gtest.h>

#include <string>

#include "state/settings.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::DeleteKeyTree;
using korvane::test::ReadRawValue;
using korvane::test::WriteDwordValue;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey); }
    void TearDown() override { DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey); }
    void Store(const char* name, DWORD value) {
        WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, name, value);
    }
    SharedState state = InitialSharedState();
};

std::string Dword(DWORD value) { return std::string(reinterpret_cast<char*>(&value), 4); }

}  // namespace

TEST_F(SettingsTest, FreshUserGetsVisibleIconNoSoundNoFlashNoAdHiding) {
    LoadSettingsInto(state);
    EXPECT_EQ(0, state.trayIconHidden);
    EXPECT_EQ(0, state.soundOn);
    EXPECT_EQ(1, state.soundIsBeep);  // kept for F9
    EXPECT_EQ(0, state.flashOn);
    EXPECT_EQ(0, state.blockBannerAds);
    EXPECT_TRUE(ReadSoundFile().empty());
}

TEST_F(SettingsTest, MissingTrayIconValueKeepsTheFlag) {
    state.trayIconHidden = 1;
    LoadSettingsInto(state);
    EXPECT_EQ(1, state.trayIconHidden);
    Store(kTrayIconValue, 0);
    LoadSettingsInto(state);
    EXPECT_EQ(0, state.trayIconHidden);
    Store(kTrayIconValue, 7);
    LoadSettingsInto(state);
    EXPECT_EQ(1, state.trayIconHidden);
}

TEST_F(SettingsTest, SoundValueSelectsBeepOrWaveFile) {
    struct Case { DWORD stored; BYTE soundOn; BYTE soundIsBeep; };
    for (Case c : {Case{1, 1, 1}, Case{2, 1, 0}, Case{7, 1, 0}}) {
        state = InitialSharedState();
        Store(kSoundValue, c.stored);
        LoadSettingsInto(state);
        EXPECT_EQ(c.soundOn, state.soundOn) << c.stored;
        EXPECT_EQ(c.soundIsBeep, state.soundIsBeep) << c.stored;
    }
    // Off keeps the kind of sound.
    state.soundIsBeep = 0;
    Store(kSoundValue, 0);
    LoadSettingsInto(state);
    EXPECT_EQ(0, state.soundOn);
    EXPECT_EQ(0, state.soundIsBeep);
}

TEST_F(SettingsTest, FlashValueCarriesFlashAndBannerAdBits) {
    struct Case { DWORD stored; BYTE flashOn; BYTE blockBannerAds; };
    for (Case c : {Case{0, 0, 0}, Case{1, 1, 0}, Case{2, 0, 1}, Case{3, 1, 1}}) {
        state = InitialSharedState();
        Store(kFlashValue, c.stored);
        LoadSettingsInto(state);
        EXPECT_EQ(c.flashOn, state.flashOn) << c.stored;
        EXPECT_EQ(c.blockBannerAds, state.blockBannerAds) << c.stored;
    }
    // Values we never write leave both flags as they were.
    state = InitialSharedState();
    Store(kFlashValue, 5);
    LoadSettingsInto(state);
    EXPECT_EQ(1, state.flashOn);
    EXPECT_EQ(0, state.blockBannerAds);
}

TEST_F(SettingsTest, WrittenValuesAreFourByteDwords) {
    ASSERT_EQ(ERROR_SUCCESS, WriteSoundSetting(2));
    ASSERT_EQ(ERROR_SUCCESS, WriteFlashSetting(3));
    ASSERT_EQ(ERROR_SUCCESS, WriteTrayIconSetting(1));
    for (auto [name, value] : {std::pair<const char*, DWORD>{kSoundValue, 2},
                               {kFlashValue, 3}, {kTrayIconValue, 1}}) {
        auto raw = ReadRawValue(HKEY_CURRENT_USER, kSettingsKey, name);
        ASSERT_TRUE(raw.present) << name;
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), raw.type) << name;
        EXPECT_EQ(Dword(value), raw.bytes) << name;
    }
    EXPECT_EQ(2u, ReadSoundSetting());
    EXPECT_EQ(3u, ReadFlashSetting());
}

TEST_F(SettingsTest, EncodingsFollowTheSwitches) {
    state.soundOn = 0;
    EXPECT_EQ(0u, EncodeSoundSetting(state));
    state.soundOn = 1;
    state.soundIsBeep = 1;
    EXPECT_EQ(1u, EncodeSoundSetting(state));
    state.soundIsBeep = 0;
    EXPECT_EQ(2u, EncodeSoundSetting(state));
    state.flashOn = 0;
    state.blockBannerAds = 1;
    EXPECT_EQ(2u, EncodeFlashSetting(state));
    state.flashOn = 1;
    EXPECT_EQ(3u, EncodeFlashSetting(state));
}

TEST_F(SettingsTest, FileIsStoredWithoutTerminatorAndReadBack) {
    const char path[] = "C:\\Sounds\\blocked.wav";
    ASSERT_EQ(ERROR_SUCCESS, WriteSoundFile(path));
    auto raw = ReadRawValue(HKEY_CURRENT_USER, kSettingsKey, kFileValue);
    ASSERT_TRUE(raw.present);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), raw.type);
    EXPECT_EQ(std::string(path), raw.bytes);  // no NUL byte
    EXPECT_STREQ(path, ReadSoundFile().c_str());
}

TEST_F(SettingsTest, EmptyOrOverLongFileReadsAsNone) {
    ASSERT_EQ(ERROR_SUCCESS, WriteSoundFile(""));
    EXPECT_TRUE(ReadSoundFile().empty());
    ASSERT_EQ(ERROR_SUCCESS, WriteSoundFile(std::string(260, 'p').c_str()));
    EXPECT_TRUE(ReadSoundFile().empty());
    ASSERT_EQ(ERROR_SUCCESS, WriteSoundFile(std::string(5000, 'p').c_str()));
    EXPECT_TRUE(ReadSoundFile().empty());
    const std::string longest(259, 'q');
    ASSERT_EQ(ERROR_SUCCESS, WriteSoundFile(longest.c_str()));
    EXPECT_EQ(longest, ReadSoundFile().c_str());
}

TEST_F(SettingsTest, ScriptDebuggerSettingIsThreeBytesYes) {
    DeleteKeyTree(HKEY_CURRENT_USER, kBrowserMainKey);
    ASSERT_EQ(ERROR_SUCCESS, DisableScriptDebugger());
    auto raw = ReadRawValue(HKEY_CURRENT_USER, kBrowserMainKey, kDisableScriptDebuggerValue);
    ASSERT_TRUE(raw.present);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), raw.type);
    EXPECT_EQ("yes", raw.bytes);
}

TEST_F(SettingsTest, WrongTypedValuesReadAsMissing) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &key, nullptr));
    RegSetValueExA(key, kSoundValue, 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
    RegSetValueExA(key, kTrayIconValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>("\1"), 1);
    RegCloseKey(key);
    state.trayIconHidden = 0;
    LoadSettingsInto(state);
    EXPECT_EQ(0, state.soundOn);
    EXPECT_EQ(0, state.trayIconHidden);
}
