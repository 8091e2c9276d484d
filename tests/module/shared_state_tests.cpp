#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

#include "state/session_namespace.h"
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

namespace {

// Stands in for kernel32's private namespace functions, which Wine lacks:
// records what the library asks, and answers create and open as told.
struct NamespaceRecord {
    std::wstring boundary;
    std::vector<std::string> sids;  // added to the boundary, in order
    int creates = 0, opens = 0;
    DWORD createError = 0, openError = 0;  // 0: it succeeds
} record;

HANDLE Answer(DWORD error) {
    SetLastError(error);
    return error ? nullptr : CreateEventA(nullptr, FALSE, FALSE, nullptr);
}
HANDLE WINAPI RecordBoundary(LPCWSTR name, ULONG) { return record.boundary = name, Answer(0); }
BOOL WINAPI RecordSid(HANDLE*, PSID sid) {
    char* text = nullptr;
    ConvertSidToStringSidA(sid, &text);
    record.sids.push_back(text ? text : "?");
    LocalFree(text);
    return TRUE;
}
VOID WINAPI DeleteBoundary(HANDLE boundary) { CloseHandle(boundary); }
HANDLE WINAPI RecordCreate(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR) { return ++record.creates, Answer(record.createError); }
HANDLE WINAPI RecordOpen(LPVOID, LPCWSTR) { return ++record.opens, Answer(record.openError); }

}  // namespace

// Windows 7 on: the session's objects go into a private namespace that a
// process at medium integrity or above makes and a low one only opens.
// Wine has none of its functions (there the library keeps "Local\"), so
// they are stood in for here and the library's calls checked.
TEST(SessionNamespace, MadeOnlyAtMediumIntegrityAndOpenedFromBelow) {
    NamespaceCalls calls;
    calls.createBoundary = RecordBoundary;
    calls.addSid = calls.addLabel = RecordSid;
    calls.deleteBoundary = DeleteBoundary;
    calls.create = RecordCreate;
    calls.open = RecordOpen;
    const std::string user = UserSidText().c_str();
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const std::string boundary = "Korvane." + user + ".Session" + std::to_string(session);
    const struct {
        bool mayCreate;
        DWORD createError, openError;
        SessionNamespace found;
        int creates, opens;
    } cases[] = {
        {true, 0, 0, SessionNamespace::Private, 1, 0},
        {true, ERROR_ALREADY_EXISTS, 0, SessionNamespace::Private, 1, 1},  // made by another
        {true, ERROR_ACCESS_DENIED, 0, SessionNamespace::Missing, 1, 0},
        {false, 0, 0, SessionNamespace::Private, 0, 1},                      // low: never makes it
        {false, 0, ERROR_PATH_NOT_FOUND, SessionNamespace::Missing, 0, 1},  // not made yet
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(&c - cases));
        record = NamespaceRecord{};
        record.createError = c.createError;
        record.openError = c.openError;
        EXPECT_EQ(c.found, OpenSessionNamespace(calls, c.mayCreate));
        EXPECT_EQ(c.creates, record.creates);
        EXPECT_EQ(c.opens, record.opens);
        EXPECT_EQ(std::wstring(boundary.begin(), boundary.end()), record.boundary);
        EXPECT_EQ((std::vector<std::string>{user, "S-1-16-8192"}), record.sids);
        const char* expected = c.found == SessionNamespace::Private ? "Korvane\\Korvane.SharedState" : "";
        EXPECT_STREQ(expected, SessionObjectName(kSharedStateObjectName).c_str());
        ForgetSessionNamespace();
    }
    // Without the functions (Vista's lack the label, Wine's all): "Local\".
    calls.addLabel = nullptr;
    record = NamespaceRecord{};
    EXPECT_EQ(SessionNamespace::Local, OpenSessionNamespace(calls, true));
    EXPECT_EQ(0, record.creates + record.opens);
}
