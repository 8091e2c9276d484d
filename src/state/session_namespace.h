// Where the logon session's named objects live: the switches, the session's
// log, the hook's and the icon's owners, the broker's own mutex.
//
// A process at low integrity (a browser in Protected Mode) may create named
// objects in the session's own namespace, "Local\": one that made them
// first, with a list of its own, would decide who may open them, hold the
// mutexes, and feed every process its switches. From Windows 7 on they live
// in a private namespace instead, whose boundary names the user, the session
// and the medium integrity level: only a process of the user at medium
// integrity or above can create it, and a low one may only open it once it
// is there. Windows before 7 and Wine have no such boundary (Vista has
// private namespaces, but without the integrity label a low process could
// create the namespace as well as any object): there the objects stay in
// "Local\", guarded by their lists alone (see SessionObjectSecurity).
#pragma once

#include <windows.h>

namespace korvane {

// The kernel32 functions behind a private namespace, looked up at run time:
// all of them exist from Windows 7 on. Tests put recorders in their place,
// since Wine has none of them (see tests/module/session_namespace_tests.cpp).
struct NamespaceCalls {
    HANDLE(WINAPI* createBoundary)(LPCWSTR name, ULONG flags) = nullptr;
    BOOL(WINAPI* addSid)(HANDLE* boundary, PSID sid) = nullptr;
    BOOL(WINAPI* addLabel)(HANDLE* boundary, PSID label) = nullptr;
    VOID(WINAPI* deleteBoundary)(HANDLE boundary) = nullptr;
    HANDLE(WINAPI* create)(LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCWSTR alias) = nullptr;
    HANDLE(WINAPI* open)(LPVOID boundary, LPCWSTR alias) = nullptr;
    bool Complete() const noexcept {
        return createBoundary && addSid && addLabel && deleteBoundary && create && open;
    }
};
NamespaceCalls SystemNamespaceCalls() noexcept;

enum class SessionNamespace {
    Local,    // "Local\": the system has no boundary a lower level cannot cross
    Private,  // the session's private namespace, open in this process
    Missing,  // it has one, but this process may not make it and none is there yet
};

// The alias under which this process names the objects of the private
// namespace: "Korvane\<name>".
constexpr wchar_t kNamespaceAlias[] = L"Korvane";

// Opens the session's private namespace, or creates it when mayCreate (a
// process at medium integrity or above) and it is not there. The boundary is
// "Korvane.<user SID>.<session>" (session as the broker's pipe names it:
// channel/channel_rules.h), with the user's SID and the medium label. The
// namespace's own list admits the user and the system. Sets what
// SessionObjectName puts in front of names. Call at attach, after the
// session's prefix is set; again (OpenSessionNamespace(calls, false)) at a
// browser event while it is Missing.
SessionNamespace OpenSessionNamespace(const NamespaceCalls& calls, bool mayCreate) noexcept;
// What the last call found (Local before any).
SessionNamespace CurrentSessionNamespace() noexcept;
// Back to Local, the namespace's handle closed: for tests, which open one
// through recorders.
void ForgetSessionNamespace() noexcept;

}  // namespace korvane
