#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "state/shared_state.h"
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

TEST(SharedState, OnlyAPrefixInsideTheSessionNamespaceIsTaken) {
    const struct {
        const char* value;
        const char* prefix;
    } cases[] = {
        {nullptr, "Local\\"},
        {"", "Local\\"},
        {"Local\\", "Local\\"},
        {"Local\\Other.", "Local\\Other."},
        {"Global\\Other.", "Local\\"},
        {"Local\\a\\b", "Local\\"},
        {"Local\\01234567890123456789012345", "Local\\"},  // too long to keep
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.prefix, SessionObjectPrefixFor(c.value)) << (c.value ? c.value : "(null)");
}

// Windows gives each logon session its own "Local\\" namespace; Wine has one
// session. A process given another session prefix in its environment
// stands for a process of a second session.
TEST(SharedState, EachSessionHasSwitchesOfItsOwn) {
    const std::string ready = UniqueName("ready");
    const std::string release = UniqueName("release");
    HANDLE readyEvent = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());

    // The first user's browser: the first process of its session, which
    // then switches blocking off (F10) and waits.
    ChildProcess first(Probe("nonzero keyboardHook expect instanceCount 1 set popupsAllowed 1 "
                             "set blockBannerAds 0 signal " + ready + " wait " + release +
                             " expect blockBannerAds 0"));
    ASSERT_TRUE(first.started());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(readyEvent, 30000));

    // The second user's first browser is a first process too, with its own
    // hook and blocking on; its banner setting leaves the first user's alone.
    SetEnvironmentVariableA(kSessionPrefixVariable, "Local\\KorvaneTestSession2.");
    EXPECT_EQ(0, RunProcess(Probe("nonzero keyboardHook expect instanceCount 1 "
                                  "expect popupsAllowed 0 set blockBannerAds 1")));
    SetEnvironmentVariableA(kSessionPrefixVariable, nullptr);

    HANDLE releaseEvent = CreateEventA(nullptr, TRUE, FALSE, release.c_str());
    SetEvent(releaseEvent);
    EXPECT_EQ(0, first.Wait());
    CloseHandle(releaseEvent);
    CloseHandle(readyEvent);
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
