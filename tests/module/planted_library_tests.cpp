// A "winmm.dll" that a user put beside Korvane.dll is never loaded: not when
// COM loads the library (its folder searched first for what it imports),
// nor when a blocked popup plays the wave file. The system's winmm is loaded
// then, and only then.
//
// Wine loads its own winmm wherever a file of that name lies, where Windows
// takes the first file the search finds; this program runs with winmm set
// to "native, then builtin" (see CMakeLists.txt), so that Wine searches as
// Windows does.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "browser/session.h"
#include "support/korvane_session_test.h"
#include "support/test_support.h"

using namespace korvane;

namespace {

// A wave file of a tenth of a second of silence: 8 kHz, 8 bits, mono.
std::string SilentWave() {
    const std::string samples(800, '\x80');
    auto word = [](unsigned long value, int bytes) {
        std::string text;
        for (int i = 0; i < bytes; ++i) text += static_cast<char>((value >> (8 * i)) & 0xff);
        return text;
    };
    return "RIFF" + word(36 + samples.size(), 4) + "WAVEfmt " + word(16, 4) + word(1, 2) +
           word(1, 2) + word(8000, 4) + word(8000, 4) + word(1, 2) + word(8, 2) + "data" +
           word(samples.size(), 4) + samples;
}

std::vector<std::string> LoadedModules() {
    std::vector<std::string> paths;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE) return paths;
    MODULEENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
        paths.push_back(entry.szExePath);
    CloseHandle(snapshot);
    return paths;
}

bool SamePath(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

std::string FileName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

// The modules named winmm.dll, by full path.
std::vector<std::string> WinmmModules() {
    std::vector<std::string> found;
    for (const std::string& path : LoadedModules())
        if (SamePath(FileName(path), "winmm.dll")) found.push_back(path);
    return found;
}

std::string SystemFolder() {
    char path[MAX_PATH] = {};
    GetSystemDirectoryA(path, sizeof path);
    return path;
}

class PlantedLibraryTest : public test::KorvaneSessionTest {
protected:
    static void SetUpTestSuite() {
        waves_.reset(new test::TempDirectory());
        test::WriteFileBytes(waves_->File("blocked.wav"), SilentWave());
        test::InstallOptions options;
        options.soundSetting = 2;
        options.soundFile = waves_->File("blocked.wav");
        options.besideDll = {{test::BuildDirectory() + "planted\\winmm.dll", "winmm.dll"}};
        InstallKorvane(options);
        test::WriteSitePage(site_->path(), "news.example/index.html", "<html><body>News</body></html>");
        test::WriteSitePage(site_->path(), "ads.example/pop.html", "<html><body>Buy!</body></html>");
    }
    static void TearDownTestSuite() {
        RemoveKorvane();
        waves_.reset();
    }
    static std::unique_ptr<test::TempDirectory> waves_;
};

std::unique_ptr<test::TempDirectory> PlantedLibraryTest::waves_;

TEST_F(PlantedLibraryTest, AWinmmBesideTheLibraryIsNeverLoaded) {
    const std::string planted = korvane_->Folder() + "winmm.dll";
    ASSERT_TRUE(test::FileExists(planted));
    // Loaded, and nothing of winmm with it.
    EXPECT_TRUE(WinmmModules().empty()) << WinmmModules()[0];

    standin::Session& session = NewSession();
    ASSERT_EQ(1, session.Open("http://news.example/index.html"));
    Shared().soundOn = 1;
    Shared().soundIsBeep = 0;
    ASSERT_TRUE(session.ScriptOpen("w1", "http://ads.example/pop.html", ""));
    EXPECT_TRUE(session.Window(2).firstNavigationCancelled);
    Shared().soundOn = 0;

    // The block played the wave file through the system's winmm.
    const std::vector<std::string> winmm = WinmmModules();
    ASSERT_EQ(1u, winmm.size());
    EXPECT_TRUE(SamePath(winmm[0], SystemFolder() + "\\winmm.dll")) << winmm[0];
    for (const std::string& path : LoadedModules()) EXPECT_FALSE(SamePath(path, planted)) << path;
    EXPECT_FALSE(test::FileExists(planted + ".ran"));
}

}  // namespace
