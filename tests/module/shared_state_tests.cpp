#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "module/shared_state.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::ChildProcess;
using korvane::test::RunProcess;

namespace {

std::string Probe(const std::string& commands) {
    return "\"" + test::ProgramDirectory() + "korvane_shared_probe.exe\" \"" +
           test::KorvaneDllPath() + "\" " + commands;
}

std::string UniqueName(const char* what) {
    return std::string("korvane-test-") + what + "-" + std::to_string(GetCurrentProcessId()) +
           "-" + std::to_string(GetTickCount());
}

}  // namespace

TEST(SharedState, StartsFromTheDocumentedInitialValues) {
    const SharedState initial = InitialSharedState();
    EXPECT_EQ(nullptr, initial.keyboardHook);
    EXPECT_EQ(0, initial.trayIconSynced);
    EXPECT_EQ(0, initial.popupsAllowed);
    EXPECT_EQ(0, initial.trayIconHidden);
    EXPECT_EQ(1, initial.popupOverride);
    EXPECT_EQ(1, initial.soundOn);
    EXPECT_EQ(1, initial.flashOn);
    EXPECT_EQ(1, initial.soundIsBeep);
    EXPECT_EQ(0, initial.blockBannerAds);
    EXPECT_EQ(0, initial.instanceCount);
    EXPECT_EQ(0, initial.helperActive);
}

TEST(SharedState, TheDllCarriesTheBlockInASharedSection) {
    HMODULE dll = LoadLibraryExA(test::KorvaneDllPath().c_str(), nullptr,
                                 DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, dll);
    auto* base = reinterpret_cast<BYTE*>(dll);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    bool found = false;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (std::strncmp(reinterpret_cast<char*>(section->Name), kSharedSectionName, 8) != 0)
            continue;
        found = true;
        const DWORD wanted = IMAGE_SCN_MEM_SHARED | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE;
        EXPECT_EQ(wanted, section->Characteristics & wanted);
        EXPECT_GE(section->Misc.VirtualSize, sizeof(SharedState));
    }
    EXPECT_TRUE(found);
    FreeLibrary(dll);
}

TEST(SharedState, ASwitchWrittenByOneProcessIsReadByAnother) {
    const std::string ready = UniqueName("ready");
    const std::string release = UniqueName("release");
    const std::string written = UniqueName("written");
    HANDLE readyEvent = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());

    // The first process writes and then keeps the library loaded until the
    // second one has read, and checks what the second one wrote back.
    ChildProcess first(Probe("set popupsAllowed 1 set soundOn 0 signal " + ready + " wait " +
                             release + " expect blockBannerAds 1"));
    ASSERT_TRUE(first.started());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(readyEvent, 30000));

    EXPECT_EQ(0, RunProcess(Probe("expect popupsAllowed 1 expect soundOn 0 set blockBannerAds 1")));

    HANDLE releaseEvent = CreateEventA(nullptr, TRUE, FALSE, release.c_str());
    SetEvent(releaseEvent);
    EXPECT_EQ(0, first.Wait());
    CloseHandle(releaseEvent);
    CloseHandle(readyEvent);
}

TEST(SharedState, ALoadAfterEveryProcessHasGoneStartsFromTheInitialValues) {
    // Nothing else in this test program has the DLL loaded, so each probe
    // below is the only process that maps it.
    ASSERT_EQ(nullptr, GetModuleHandleA("Korvane.dll"));
    ASSERT_EQ(0, RunProcess(Probe("set popupsAllowed 1 set popupOverride 0 set blockBannerAds 1 "
                                  "expect popupsAllowed 1")));
    EXPECT_EQ(0, RunProcess(Probe("expect popupsAllowed 0 expect popupOverride 1 "
                                  "expect blockBannerAds 0 expect trayIconHidden 0")));
}
