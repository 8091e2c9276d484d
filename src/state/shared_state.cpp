#include "state/shared_state.h"

#include "base/ansi_string.h"
#include "base/lock.h"
#include "base/unique_resource.h"
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

// The switches of a process that has not opened its session's block.
SharedState localSharedState = {{0}, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, {0}};

char sessionObjectPrefix[kSessionPrefixSize] = "Local\\";

// Owns the security descriptor of the session's objects for the life of
// the process: it is built when first asked for, once, and handed to every
// create call. (Built under a lock of its own rather than as a function's
// static: that would bring the C++ runtime's guard for statics, and its
// thread primitives, into every process the hook reaches.)
class SessionSecurity {
public:
    SECURITY_ATTRIBUTES* Attributes() noexcept {
        ScopedLock hold(lock_);
        if (!built_) {
            built_ = true;
            Build();
        }
        return descriptor_ ? &attributes_ : nullptr;
    }

private:
    void Build() noexcept;

    CriticalSection lock_;
    bool built_ = false;
    UniqueLocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

void SessionSecurity::Build() noexcept {
    try {
        const AnsiString user = UserSidText();
        if (user.empty()) return;
        // Full access for the system and the user, nobody else. The label
        // lets a browser at low integrity (Protected Mode) write to what a
        // program at medium integrity made; systems without integrity
        // levels do not know it, and get the same without it.
        static const char kDacl[] = "D:P(A;;GA;;;SY)(A;;GA;;;";
        static const char kLowLabel[] = ")S:(ML;;NW;;;LW)";
        for (int withLabel = 1; withLabel >= 0; --withLabel) {
            const char* tail = withLabel ? kLowLabel : ")";
            const AnsiString sddl = Concatenate({kDacl, user, tail});
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr)) {
                descriptor_.reset(descriptor);
                attributes_.nLength = sizeof attributes_;
                attributes_.lpSecurityDescriptor = descriptor;
                attributes_.bInheritHandle = FALSE;
                return;
            }
        }
    } catch (...) {
        // Out of memory: the default security.
    }
}

SessionSecurity sessionSecurity;

// The session's block stays mapped until the process ends: the code of
// every thread reads it through sharedState->
UniqueHandle sessionMapping;
UniqueView sessionView;

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
    return Concatenate({sessionObjectPrefix, name});
}

SECURITY_ATTRIBUTES* SessionObjectSecurity() noexcept { return sessionSecurity.Attributes(); }

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

bool MapSessionSharedState(bool* created) {
    *created = false;
    if (sessionView) return true;
    const AnsiString name = SessionObjectName(kSharedStateObjectName);
    if (name.empty()) return false;
    UniqueHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, SessionObjectSecurity(),
                                            PAGE_READWRITE, 0, sizeof(SharedState), name.c_str()));
    if (!mapping) return false;
    const bool made = GetLastError() != ERROR_ALREADY_EXISTS;
    UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                  sizeof(SharedState)));
    if (!view) return false;
    auto* block = static_cast<SharedState*>(view.get());
    if (made) *block = InitialSharedState();
    *created = made;
    sessionMapping = std::move(mapping);
    sessionView = std::move(view);
    sharedState.Bind(block);
    return true;
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
