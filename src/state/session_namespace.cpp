#include "state/session_namespace.h"

#include <sddl.h>

#include "base/ansi_string.h"
#include "base/unique_resource.h"
#include "state/shared_state.h"

namespace korvane {
namespace {

SessionNamespace volatile currentNamespace = SessionNamespace::Local;
// Open for the life of the process: names are looked up through it.
HANDLE volatile namespaceHandle = nullptr;

template <typename Function>
void Find(HMODULE module, const char* name, Function& function) noexcept {
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// "Korvane.<SID>.Session<id>", or "Korvane.<SID>.Local.<name>" for a prefix
// "Local\<name>" that a test chose to stand for another session.
AnsiString BoundaryName(const AnsiString& sid) {
    const char* prefix = SessionObjectPrefix();
    const char* own = prefix + sizeof kSessionObjectPrefix - 1;
    if (*own) return Concatenate({"Korvane.", sid, ".Local.", own});
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
    char digits[12];
    size_t at = sizeof digits - 1;
    digits[at] = '\0';
    do {
        digits[--at] = static_cast<char>('0' + session % 10);
        session /= 10;
    } while (session != 0);
    return Concatenate({"Korvane.", sid, ".Session", digits + at});
}

// The boundary, with the user's SID and the medium label; null on failure.
HANDLE MakeBoundary(const NamespaceCalls& calls, const AnsiString& sid) {
    const AnsiString name = BoundaryName(sid);
    wchar_t wide[160];
    if (MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide, sizeof wide / sizeof wide[0]) <= 0)
        return nullptr;
    PSID user = nullptr;
    PSID medium = nullptr;
    if (!ConvertStringSidToSidA(sid.c_str(), &user)) return nullptr;
    UniqueLocal ownUser(user);
    if (!ConvertStringSidToSidA("S-1-16-8192", &medium)) return nullptr;
    UniqueLocal ownMedium(medium);
    HANDLE boundary = calls.createBoundary(wide, 0);
    if (!boundary) return nullptr;
    if (!calls.addSid(&boundary, user) || !calls.addLabel(&boundary, medium)) {
        calls.deleteBoundary(boundary);
        return nullptr;
    }
    return boundary;
}

}  // namespace

NamespaceCalls SystemNamespaceCalls() noexcept {
    NamespaceCalls calls;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return calls;
    Find(kernel, "CreateBoundaryDescriptorW", calls.createBoundary);
    Find(kernel, "AddSIDToBoundaryDescriptor", calls.addSid);
    Find(kernel, "AddIntegrityLabelToBoundaryDescriptor", calls.addLabel);
    Find(kernel, "DeleteBoundaryDescriptor", calls.deleteBoundary);
    Find(kernel, "CreatePrivateNamespaceW", calls.create);
    Find(kernel, "OpenPrivateNamespaceW", calls.open);
    return calls;
}

SessionNamespace OpenSessionNamespace(const NamespaceCalls& calls, bool mayCreate) noexcept {
    if (namespaceHandle) return currentNamespace = SessionNamespace::Private;
    if (!calls.Complete()) return currentNamespace = SessionNamespace::Local;
    HANDLE opened = nullptr;
    try {
        const AnsiString sid = UserSidText();
        HANDLE boundary = sid.empty() ? nullptr : MakeBoundary(calls, sid);
        if (boundary) {
            // Two processes may make it at once: the one that finds it made
            // opens it.
            for (int attempt = 0; attempt < 2 && !opened; ++attempt) {
                if (mayCreate) {
                    opened = calls.create(SessionObjectSecurity(SessionAccess::LowReads), boundary,
                                          kNamespaceAlias);
                    if (opened || GetLastError() != ERROR_ALREADY_EXISTS) break;
                }
                opened = calls.open(boundary, kNamespaceAlias);
                if (!mayCreate) break;
            }
            calls.deleteBoundary(boundary);
        }
    } catch (...) {
        opened = nullptr;
    }
    if (!opened) return currentNamespace = SessionNamespace::Missing;
    namespaceHandle = opened;
    return currentNamespace = SessionNamespace::Private;
}

SessionNamespace CurrentSessionNamespace() noexcept { return currentNamespace; }

void ForgetSessionNamespace() noexcept {
    if (HANDLE opened = namespaceHandle) CloseHandle(opened);
    namespaceHandle = nullptr;
    currentNamespace = SessionNamespace::Local;
}

}  // namespace korvane
