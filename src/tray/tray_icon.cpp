#include "tray/tray_icon.h"

#include <cstring>
#include <new>

#include "base/ansi_string.h"
#include "base/system_library.h"
#include "channel/broker_channel.h"
#include "state/session_role.h"
#include "state/shared_state.h"

namespace korvane {
namespace {

constexpr UINT kFullFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The shell is loaded when an icon is first shown: the library is loaded
// into every program that receives keyboard input, and most of those never
// show the icon. Without it no icon is shown.
SystemLibrary shell32("shell32.dll");

SessionRole iconOwner(kTrayIconOwnerName);

// Whether a window that the shared block names is a tray window of this
// library: of our class, registered by a module at this library's address.
// Processes load the library at one address (they share its image), and
// only a window made by it, or one a program made to look so, passes: no
// program's window of its own is ever sent our private messages, whatever
// the block was made to say. (A copy of the library at another address, as
// a 64-bit one would be, is not recognised: its icon is then not reached.)
bool IsOurTrayWindow(HWND window) noexcept {
    char name[sizeof TrayIconClassName + 1] = {};
    return GetClassNameA(window, name, sizeof name) > 0 &&
           std::strcmp(name, TrayIconClassName) == 0 &&
           reinterpret_cast<HMODULE>(GetClassLongPtrA(window, GCLP_HMODULE)) == moduleInstance;
}

class RealPlatform final : public TrayPlatform {
public:
    BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data) override {
        auto notify = shell32.Find<decltype(&::Shell_NotifyIconA)>("Shell_NotifyIconA");
        return notify ? notify(message, data) : FALSE;
    }
    UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse) override {
        return ::SetTimer(window, id, elapse, nullptr);
    }
    BOOL KillTimer(HWND window, UINT_PTR id) override { return ::KillTimer(window, id); }
    time_t Time() override { return ::time(nullptr); }
    DWORD GetVersion() override { return ::GetVersion(); }
    bool ClaimIcon(HWND window) override {
        // Where the broker shows the icon, no other process ever does.
        if (LeavesToBroker()) return false;
        if (!iconOwner.IsOpen()) return true;
        if (iconOwner.TryClaim() == SessionRole::Claim::Refused) return false;
        sharedState->trayIconWindow = window;
        return true;
    }
    HWND IconOwnerWindow() override {
        if (!iconOwner.IsOpen()) return nullptr;
        // A window that has gone is named still: nothing receives what is
        // posted to it, and the shell's leftover icon of it is removed.
        const HWND window = sharedState->trayIconWindow;
        return !window || !IsWindow(window) || IsOurTrayWindow(window) ? window : nullptr;
    }
    bool IconHeldElsewhere() override {
        return iconOwner.IsOpen() && !iconOwner.HeldHere() && iconOwner.HeldByAnyone();
    }
};

// The object the window procedure serves. Constructed objects stack up
// (a test may build its own beside the process's one); each destructor
// hands the place back to the one recorded before it.
TrayIcon* processTrayIcon = nullptr;

}  // namespace

bool OpenTrayIconOwner() noexcept { return iconOwner.Open(); }

bool TrayIconHeld() noexcept { return iconOwner.HeldByAnyone(); }

bool TrayIconHeldHere() noexcept { return iconOwner.HeldHere(); }

TrayPlatform& RealTrayPlatform() {
    static RealPlatform platform;
    return platform;
}

TrayIcon::TrayIcon() noexcept : TrayIcon(RealTrayPlatform()) {}

TrayIcon::TrayIcon(TrayPlatform& platform) noexcept : platform_(platform) {
    std::memset(&notifyData_, 0, sizeof notifyData_);
    previous_ = processTrayIcon;
    processTrayIcon = this;
}

TrayIcon::~TrayIcon() {
    NotifyDelete();
    flashIcons_.clear();
    if (hiddenWindow_) {
        HWND window = hiddenWindow_;
        DestroyWindow(window);
        hiddenWindow_ = nullptr;
    }
    if (processTrayIcon == this) processTrayIcon = previous_;
}

BOOL TrayIcon::Install(HINSTANCE instance, HWND notifyWindow, UINT callbackMessage,
                       const char* tooltip, HICON icon, UINT iconId, BOOL startHidden) {
    // The lowest byte of the version is the major version; the notification
    // area arrived with version 4.
    const DWORD version = platform_.GetVersion();
    shellSupported_ = LOBYTE(LOWORD(version)) >= 4 ? TRUE : FALSE;
    if (!shellSupported_) return FALSE;

    instance_ = instance;
    MakeWindow();

    notifyData_.cbSize = NotifyRecordSize;
    notifyData_.hWnd = notifyWindow ? notifyWindow : hiddenWindow_;
    notifyData_.uID = iconId;
    notifyData_.hIcon = icon;
    notifyData_.uFlags = kFullFlags;
    notifyData_.uCallbackMessage = callbackMessage;
    CopyBounded(notifyData_.szTip, TrayTooltipSize, tooltip);

    hidden_ = startHidden;
    menuOwner_ = notifyData_.hWnd;
    savedFlags_ = notifyData_.uFlags;
    if (startHidden) return TRUE;

    const BOOL added = platform_.Shell_NotifyIconA(NIM_ADD, &notifyData_);
    hidden_ = removed_ = addPending_ = added ? FALSE : TRUE;
    return added;
}

bool TrayIcon::MakeWindow() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = TrayIconWindowProc;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = TrayIconClassName;
    // A class this process registered before is simply used again.
    RegisterClassExA(&windowClass);

    hiddenWindow_ = CreateWindowExA(0, TrayIconClassName, "", WS_POPUP, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                    instance_, nullptr);
    return hiddenWindow_ != nullptr;
}

void TrayIcon::MakeIcon() {
    if (!notifyData_.hIcon) notifyData_.hIcon = showsAllowing_ ? AllowingIcon() : BlockingIcon();
}

BOOL TrayIcon::ShowInTray() {
    if (OnOtherThread()) return PostMessageA(hiddenWindow_, TrayVisibilityMessage, 1, 0);
    if (removed_) return NotifyAdd();
    if (!hidden_) return TRUE;
    NotifyAdd();
    return hidden_ ? FALSE : TRUE;
}

BOOL TrayIcon::HideFromTray() {
    if (OnOtherThread()) return PostMessageA(hiddenWindow_, TrayVisibilityMessage, 0, 0);
    if (!shellSupported_ || removed_ || hidden_) {
        // The user wants the icon out of sight: an add the shell refused
        // earlier must not bring it back when the taskbar comes back.
        addPending_ = FALSE;
        return TRUE;
    }
    NotifyDelete();
    return hidden_;
}

BOOL TrayIcon::IsDisplayed() const { return hidden_ ? FALSE : TRUE; }

BOOL TrayIcon::ShowPopupState(bool allowed) {
    if (OnOtherThread()) return PostMessageA(hiddenWindow_, TrayPopupStateMessage, allowed ? 1 : 0, 0);
    if (!shellSupported_) return FALSE;
    if (SentToIconOwner(TrayPopupStateMessage, allowed ? 1 : 0, 0, false)) return TRUE;
    showsAllowing_ = allowed;
    HICON icon = allowed ? AllowingIcon() : BlockingIcon();
    BOOL shown = TRUE;
    if (flashTimer_ != 0)
        // The flash has the image until it ends, and then shows this one:
        // the state the user chose last, not the one from before the flash.
        iconBeforeFlash_ = icon;
    else
        shown = ChangeIcon(icon);
    const BOOL tip = ChangeTooltip(allowed ? kAllowingTooltip : kBlockingTooltip);
    return shown && tip;
}

BOOL TrayIcon::NotifyAdd() {
    if (!removed_) NotifyDelete();
    if (!shellSupported_) return removed_ ? FALSE : TRUE;
    // One icon in the session, shown by the window that holds it.
    if (!TakeIcon()) return FALSE;
    MakeIcon();
    notifyData_.uFlags = kFullFlags;
    if (platform_.Shell_NotifyIconA(NIM_ADD, &notifyData_)) {
        hidden_ = FALSE;
        removed_ = FALSE;
    } else {
        addPending_ = TRUE;
    }
    return removed_ ? FALSE : TRUE;
}

BOOL TrayIcon::NotifyDelete() {
    addPending_ = FALSE;
    if (!shellSupported_ || removed_) return TRUE;
    notifyData_.uFlags = 0;
    if (platform_.Shell_NotifyIconA(NIM_DELETE, &notifyData_)) {
        hidden_ = TRUE;
        removed_ = TRUE;
    }
    return removed_;
}

BOOL TrayIcon::ChangeIcon(HICON icon) {
    if (!shellSupported_) return FALSE;
    notifyData_.hIcon = icon;
    notifyData_.uFlags = NIF_ICON;
    if (hidden_) return TRUE;
    return platform_.Shell_NotifyIconA(NIM_MODIFY, &notifyData_);
}

BOOL TrayIcon::ChangeTooltip(const char* text) {
    if (!shellSupported_) return FALSE;
    CopyBounded(notifyData_.szTip, TrayTooltipSize, text);
    notifyData_.uFlags = NIF_TIP;
    if (hidden_) return TRUE;
    return platform_.Shell_NotifyIconA(NIM_MODIFY, &notifyData_);
}

HICON TrayIcon::CurrentIcon() const { return shellSupported_ ? notifyData_.hIcon : nullptr; }

bool TrayIcon::OnOtherThread() const {
    return hiddenWindow_ && GetWindowThreadProcessId(hiddenWindow_, nullptr) != GetCurrentThreadId();
}

bool TrayIcon::TakeIcon() {
    const HWND before = platform_.IconOwnerWindow();
    if (!platform_.ClaimIcon(hiddenWindow_)) return false;
    // The shell keeps the icon of a window that has gone until the mouse
    // passes over it; it knows the icon by window and identifier.
    if (before && before != hiddenWindow_ && !IsWindow(before)) {
        NOTIFYICONDATAA left{};
        left.cbSize = NotifyRecordSize;
        left.hWnd = before;
        left.uID = notifyData_.uID;
        platform_.Shell_NotifyIconA(NIM_DELETE, &left);
    }
    return true;
}

bool TrayIcon::SentToIconOwner(UINT message, WPARAM wParam, LPARAM lParam, bool take) {
    if (take ? TakeIcon() : !platform_.IconHeldElsewhere()) return false;
    const HWND owner = platform_.IconOwnerWindow();
    if (owner && owner != hiddenWindow_) PostMessageA(owner, message, wParam, lParam);
    return true;
}

BOOL TrayIcon::SyncWithSwitches() {
    if (OnOtherThread()) return PostMessageA(hiddenWindow_, TraySyncMessage, 0, 0);
    if (!shellSupported_) return FALSE;
    if (SentToIconOwner(TraySyncMessage, 0, 0, true)) return TRUE;
    ShowPopupState(sharedState->popupsAllowed != 0);
    return sharedState->trayIconHidden ? HideFromTray() : ShowInTray();
}

BOOL TrayIcon::LoadFlashIcons(UINT first, UINT last) {
    // Anything above 0xFFFF would be taken for a string's address.
    if (first == 0 || first > last || last > 0xFFFF || last - first >= kMaxFlashIcons) return FALSE;
    if (OnOtherThread())
        return PostMessageA(hiddenWindow_, TrayLoadFlashIconsMessage, first, static_cast<LPARAM>(last));
    if (SentToIconOwner(TrayLoadFlashIconsMessage, first, static_cast<LPARAM>(last), false))
        return TRUE;
    flashIcons_.clear();
    try {
        std::vector<HICON> icons(last - first + 1);
        for (size_t i = 0; i < icons.size(); ++i)
            icons[i] = LoadIconA(instance_, MAKEINTRESOURCEA(first + i));
        flashIcons_.swap(icons);
    } catch (const std::bad_alloc&) {
        flashIcons_.clear();
        return FALSE;
    }
    return TRUE;
}

BOOL TrayIcon::StartFlash(UINT interval, int duration) {
    if (OnOtherThread())
        return PostMessageA(hiddenWindow_, TrayStartFlashMessage, interval, static_cast<LPARAM>(duration));
    if (SentToIconOwner(TrayStartFlashMessage, interval, static_cast<LPARAM>(duration), false))
        return TRUE;
    StopFlash();
    flashStep_ = 0;
    flashStart_ = platform_.Time();
    flashDuration_ = duration;
    if (shellSupported_) MakeIcon();
    iconBeforeFlash_ = CurrentIcon();
    flashTimer_ = platform_.SetTimer(hiddenWindow_, FlashTimerId, interval);
    return flashTimer_ != 0 ? TRUE : FALSE;
}

BOOL TrayIcon::StopFlash() {
    BOOL result = FALSE;
    if (flashTimer_ != 0) result = platform_.KillTimer(hiddenWindow_, flashTimer_);
    flashTimer_ = 0;
    if (iconBeforeFlash_) ChangeIcon(iconBeforeFlash_);
    iconBeforeFlash_ = nullptr;
    return result;
}

BOOL TrayIcon::FlashTick() {
    if (flashIcons_.empty()) return FALSE;
    ++flashStep_;
    if (flashStep_ >= flashIcons_.size()) flashStep_ = 0;
    return ChangeIcon(flashIcons_[flashStep_]);
}

LRESULT TrayIcon::OnTimer(UINT_PTR timerId) {
    if (timerId != flashTimer_) return 0;
    // Unsigned: a clock set back makes the difference huge, which ends the
    // flash rather than letting it run on.
    const unsigned long elapsed = static_cast<unsigned long>(platform_.Time() - flashStart_);
    if (flashDuration_ > 0 && elapsed > static_cast<unsigned long>(flashDuration_))
        StopFlash();
    else
        FlashTick();
    return 0;
}

BOOL TrayIcon::RetryAdd() {
    if (!shellSupported_) return FALSE;
    // Meant to be displayed: it is, or an add is waiting for a shell that
    // refused it. An icon the user hid, or took away with Exit, stays away.
    if (hidden_ && !addPending_) return FALSE;
    if (!TakeIcon()) return FALSE;

    MakeIcon();
    notifyData_.uFlags = savedFlags_;
    if (platform_.Shell_NotifyIconA(NIM_ADD, &notifyData_)) {
        hidden_ = FALSE;
        removed_ = FALSE;
        addPending_ = FALSE;
        return TRUE;
    }
    if (!hidden_) {
        // A work-area change leaves the taskbar, and the icon in it, where
        // they were; the shell then refuses the add of an icon it already
        // shows. A modify tells whether the icon is still there.
        if (platform_.Shell_NotifyIconA(NIM_MODIFY, &notifyData_)) return TRUE;
        hidden_ = TRUE;
        removed_ = TRUE;
    }
    addPending_ = TRUE;
    return FALSE;
}

HWND TrayIcon::MenuOwner() const { return menuOwner_ ? menuOwner_ : notifyData_.hWnd; }

bool TrayIcon::WindowLost() const { return hiddenWindow_ && !IsWindow(hiddenWindow_); }

BOOL TrayIcon::Rehome() {
    if (!shellSupported_) return FALSE;
    const BOOL wasDisplayed = IsDisplayed();
    const HWND lost = hiddenWindow_;
    // The shell knows the icon by its window and identifier, so the dead
    // window's icon can still be deleted.
    if (!removed_) {
        notifyData_.uFlags = 0;
        platform_.Shell_NotifyIconA(NIM_DELETE, &notifyData_);
    }
    hidden_ = TRUE;
    removed_ = TRUE;
    addPending_ = FALSE;
    // The timer went with the window.
    flashTimer_ = 0;
    if (iconBeforeFlash_) notifyData_.hIcon = iconBeforeFlash_;
    iconBeforeFlash_ = nullptr;
    MakeWindow();
    if (notifyData_.hWnd == lost) notifyData_.hWnd = hiddenWindow_;
    if (menuOwner_ == lost) menuOwner_ = notifyData_.hWnd;
    return wasDisplayed;
}

LRESULT TrayIcon::OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const DWORD value = static_cast<DWORD>(lParam);
    switch (message) {
        case TrayLoadFlashIconsMessage:
            LoadFlashIcons(static_cast<UINT>(wParam), static_cast<UINT>(value));
            break;
        case TrayStartFlashMessage:
            if (wParam >= kMinPostedFlashInterval && wParam <= kMaxPostedFlashInterval &&
                value >= 1 && value <= static_cast<DWORD>(kMaxPostedFlashDuration))
                StartFlash(static_cast<UINT>(wParam), static_cast<int>(value));
            break;
        case TrayPopupStateMessage:
            if (wParam <= 1 && lParam == 0) ShowPopupState(wParam == 1);
            break;
        case TrayVisibilityMessage:
            if (wParam == 1 && lParam == 0) ShowInTray();
            if (wParam == 0 && lParam == 0) HideFromTray();
            break;
        case TraySyncMessage:
            if (wParam == 0 && lParam == 0) SyncWithSwitches();
            break;
        default:
            break;
    }
    return 0;
}

TrayIcon* ProcessTrayIcon() { return processTrayIcon; }

namespace {
// Constructed during module initialisation, before the entry point's own
// code runs; "TaskbarCreated" is registered right after it.
TrayIcon theTrayIcon;
const UINT taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
}  // namespace

TrayIcon& TheTrayIcon() { return theTrayIcon; }

UINT TaskbarCreatedMessage() { return taskbarCreatedMessage; }

}  // namespace korvane
