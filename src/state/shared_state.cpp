#include "state/shared_state.h"

#include "base/ansi_string.h"
#include "base/lock.h"
#include "base/unique_resource.h"
#include "state/session_namespace.h"
#include "state/settings.h"
#include "resource.h"

#include <sddl.h>

#include <cstring>
#include <memory>
#include <new>

namespace korvane {

SharedState InitialSharedState() noexcept {
    SharedState initial{};
    initial.keyboardHook = nullptr;
    initial.trayIconSynced = 0;
    initial.popupsAllowed = 0;
    initial.trayIconHidden = 0;
    // New windows are let through until the first page has completed.
    initial.popupOverride = 1;
    initial.soundOn = 1;
    initial.flashOn = 1;
    initial.soundIsBeep = 1;
    initial.blockBannerAds = 0;
    initial.instanceCount = 0;
    initial.helperActive = 0;
    initial.hookOwnerProcess = 0;
    initial.hookOwnerThread = 0;
    initial.trayIconWindow = nullptr;
    initial.savedChanges = 0;
    return initial;
}

namespace {

// The switches of a process that has not opened its session's block, and
// in a low process the copy it reads the block into.
SharedState localSharedState = {{0}, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, {0}};

char sessionObjectPrefix[kSessionPrefixSize] = "Local\\";

// Owns the security descriptors of the session's objects for the life of
// the process: each is built when first asked for, once, and handed to
// every create call. (Built under a lock of its own rather than as a
// function's static: that would bring the C++ runtime's guard for statics,
// and its thread primitives, into every process the hook reaches.)
class SessionSecurity {
public:
    SECURITY_ATTRIBUTES* Attributes(SessionAccess access) noexcept {
        const int kind = static_cast<int>(access);
        ScopedLock hold(lock_);
        if (!built_[kind]) {
            built_[kind] = true;
            Build(kind);
        }
        return descriptors_[kind] ? &attributes_[kind] : nullptr;
    }

private:
    void Build(int kind) noexcept;

    static constexpr int kKinds = 3;
    CriticalSection lock_;
    bool built_[kKinds] = {};
    UniqueLocal descriptors_[kKinds];
    SECURITY_ATTRIBUTES attributes_[kKinds] = {};
};

void SessionSecurity::Build(int kind) noexcept {
    try {
        const AnsiString user = UserSidText();
        if (user.empty()) return;
        // Full access for the system and the user, nobody else. The label
        // is what a process of the user at a lower level may do: a low one
        // writes the pipe and the log (what a medium process made is closed
        // to it for writing otherwise), reads the switches, and cannot open
        // the mutexes at all (waiting on one needs no right to write, so a
        // low process could otherwise hold it). The explicit medium level
        // keeps an elevated process's objects open to the medium ones.
        // Systems without integrity levels do not know labels, and get the
        // same without one.
        static const char kDacl[] = "D:P(A;;GA;;;SY)(A;;GA;;;";
        static const char* const kLabels[kKinds] = {")S:(ML;;NW;;;LW)", ")S:(ML;;NW;;;ME)",
                                                    ")S:(ML;;NWNRNX;;;ME)"};
        for (int withLabel = 1; withLabel >= 0; --withLabel) {
            const char* tail = withLabel ? kLabels[kind] : ")";
            const AnsiString sddl = Concatenate({kDacl, user, tail});
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr)) {
                descriptors_[kind].reset(descriptor);
                attributes_[kind].nLength = sizeof attributes_[kind];
                attributes_[kind].lpSecurityDescriptor = descriptor;
                attributes_[kind].bInheritHandle = FALSE;
                return;
            }
        }
    } catch (...) {
        // Out of memory: the default security.
    }
}

SessionSecurity sessionSecurity;

// The session's block stays mapped until the process ends: the code of
// every thread reads it through sharedState-> (in a low process, through
// the copy that RefreshSharedState keeps).
UniqueHandle sessionMapping;
UniqueView sessionView;
SessionSwitches volatile sessionSwitches = SessionSwitches::None;
CriticalSection refreshLock;

// Fills a block just made. Field by field, and the count of processes left
// alone: a process that opened the block in the moment between its making
// and this has counted itself already.
void FillInitialValues(SharedState& block) noexcept {
    const SharedState initial = InitialSharedState();
    block.keyboardHook = initial.keyboardHook;
    block.trayIconSynced = initial.trayIconSynced;
    block.popupsAllowed = initial.popupsAllowed;
    block.trayIconHidden = initial.trayIconHidden;
    block.popupOverride = initial.popupOverride;
    block.soundOn = initial.soundOn;
    block.flashOn = initial.flashOn;
    block.soundIsBeep = initial.soundIsBeep;
    block.blockBannerAds = initial.blockBannerAds;
    block.hookOwnerProcess = initial.hookOwnerProcess;
    block.hookOwnerThread = initial.hookOwnerThread;
    block.trayIconWindow = initial.trayIconWindow;
}

// The block's values into the copy, but for what the process keeps itself.
void CopySessionFields(const volatile SharedState& from, SharedState& to) noexcept {
    to.keyboardHook.value = from.keyboardHook.value;
    to.popupsAllowed = from.popupsAllowed;
    to.trayIconHidden = from.trayIconHidden;
    to.soundOn = from.soundOn;
    to.flashOn = from.flashOn;
    to.soundIsBeep = from.soundIsBeep;
    to.blockBannerAds = from.blockBannerAds;
    to.instanceCount = from.instanceCount;
    to.helperActive = from.helperActive;
    to.hookOwnerProcess = from.hookOwnerProcess;
    to.hookOwnerThread = from.hookOwnerThread;
    to.trayIconWindow.value = from.trayIconWindow.value;
    to.savedChanges = from.savedChanges;
}

}  // namespace

SharedStateHandle sharedState(&localSharedState);

SharedStateHandle& SharedStateHandle::operator=(const SharedState& values) noexcept {
    *block_ = values;
    return *this;
}

const char* SessionObjectPrefixFor(const char* environmentValue) noexcept {
    if (!environmentValue) return kSessionObjectPrefix;
    const size_t base = sizeof kSessionObjectPrefix - 1;
    const size_t length = strnlen(environmentValue, kSessionPrefixSize);
    if (length <= base || length >= kSessionPrefixSize) return kSessionObjectPrefix;
    if (std::strncmp(environmentValue, kSessionObjectPrefix, base) != 0) return kSessionObjectPrefix;
    if (std::memchr(environmentValue + base, '\\', length - base)) return kSessionObjectPrefix;
    return environmentValue;
}

void SetSessionObjectPrefix(const char* prefix) noexcept {
    CopyBounded(sessionObjectPrefix, sizeof sessionObjectPrefix, prefix ? prefix : "");
}

AnsiString SessionObjectName(const char* name) {
    switch (CurrentSessionNamespace()) {
        case SessionNamespace::Private:
            return Concatenate({"Korvane\\", name});
        case SessionNamespace::Missing:
            // Not made yet: nothing of the session is there, and nothing is
            // looked for in "Local\", where a low process could have made it.
            return AnsiString();
        case SessionNamespace::Local:
            break;
    }
    return Concatenate({sessionObjectPrefix, name});
}

SECURITY_ATTRIBUTES* SessionObjectSecurity(SessionAccess access) noexcept {
    return sessionSecurity.Attributes(access);
}

const char* SessionObjectPrefix() noexcept { return sessionObjectPrefix; }

AnsiString UserSidText() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return AnsiString();
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return AnsiString();
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer || !GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size))
        return AnsiString();
    char* text = nullptr;
    if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text))
        return AnsiString();
    UniqueLocal owner(text);
    return AnsiString(text);
}

SessionSwitches MapSessionSharedState(bool mayCreate, bool* created) {
    *created = false;
    if (sessionView) return sessionSwitches;
    // Not there yet: a low process finds the block once a medium one made
    // its session's namespace and the block in it.
    if (CurrentSessionNamespace() == SessionNamespace::Missing &&
        OpenSessionNamespace(SystemNamespaceCalls(), false) != SessionNamespace::Private)
        return SessionSwitches::None;
    const AnsiString name = SessionObjectName(kSharedStateObjectName);
    if (name.empty()) return SessionSwitches::None;
    UniqueHandle mapping(mayCreate ? CreateFileMappingA(INVALID_HANDLE_VALUE,
                                                        SessionObjectSecurity(SessionAccess::LowReads),
                                                        PAGE_READWRITE, 0, sizeof(SharedState), name.c_str())
                                   : OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
    if (!mapping) return SessionSwitches::None;
    const bool made = mayCreate && GetLastError() != ERROR_ALREADY_EXISTS;
    UniqueView view(MapViewOfFile(mapping.get(), mayCreate ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ,
                                  0, 0, sizeof(SharedState)));
    if (!view) return SessionSwitches::None;
    auto* block = static_cast<SharedState*>(view.get());
    sessionMapping = std::move(mapping);
    sessionView = std::move(view);
    if (!mayCreate) {
        // The process keeps its copy, and never holds a pointer it could
        // write through into the block.
        sessionSwitches = SessionSwitches::ReadOnly;
        RefreshSharedState();
        return SessionSwitches::ReadOnly;
    }
    if (made) FillInitialValues(*block);
    *created = made;
    sharedState.Bind(block);
    sessionSwitches = SessionSwitches::Shared;
    return SessionSwitches::Shared;
}

SessionSwitches CurrentSessionSwitches() noexcept { return sessionSwitches; }

void RefreshSharedState() noexcept {
    if (sessionSwitches != SessionSwitches::ReadOnly) return;
    ScopedLock hold(refreshLock);
    CopySessionFields(*static_cast<const volatile SharedState*>(sessionView.get()), localSharedState);
}

HINSTANCE moduleInstance = nullptr;
HICON volatile iconBlocking = nullptr;
HICON volatile iconAllowing = nullptr;
HWND volatile logListBox = nullptr;

namespace {

HICON LoadOnce(HICON volatile& icon, UINT resource) noexcept {
    if (HICON loaded = icon) return loaded;
    HICON loaded = LoadIconA(moduleInstance, MAKEINTRESOURCEA(resource));
    icon = loaded;
    return loaded;
}

}  // namespace

HICON BlockingIcon() noexcept { return LoadOnce(iconBlocking, IDI_BLOCKING); }
HICON AllowingIcon() noexcept { return LoadOnce(iconAllowing, IDI_ALLOWING); }

namespace {
char soundFilePath[kPathBufferSize] = {};
bool soundFilePathKnown = false;  // set, or "File" read
CriticalSection soundFilePathLock;

// Reads "File" the first time the path is needed. The registry is read
// outside the lock; a path set meanwhile wins over what was read.
void LoadSoundFilePath() noexcept {
    {
        ScopedLock hold(soundFilePathLock);
        if (soundFilePathKnown) return;
    }
    AnsiString stored;
    try {
        stored = ReadSoundFile();
    } catch (...) {
        // Out of memory: no wave file, as with none stored.
    }
    ScopedLock hold(soundFilePathLock);
    if (soundFilePathKnown) return;
    soundFilePathKnown = true;
    if (!stored.empty()) CopyBounded(soundFilePath, sizeof soundFilePath, stored.c_str());
}

}  // namespace

void SetSoundFilePath(const char* path) noexcept {
    ScopedLock hold(soundFilePathLock);
    soundFilePathKnown = true;
    CopyBounded(soundFilePath, sizeof soundFilePath, path);
}

void GetSoundFilePath(char* buffer, size_t size) noexcept {
    LoadSoundFilePath();
    ScopedLock hold(soundFilePathLock);
    CopyBounded(buffer, size, soundFilePath);
}

bool HasSoundFilePath() noexcept {
    LoadSoundFilePath();
    ScopedLock hold(soundFilePathLock);
    return soundFilePath[0] != '\0';
}

void ReadSoundFilePathAgain() noexcept {
    ScopedLock hold(soundFilePathLock);
    soundFilePathKnown = false;
}

}  // namespace korvane
