// The process's notification-area (tray) icon: one record handed to the
// shell, the hidden window that receives the icon's messages, and a timer
// animation that flashes the icon for a while.
//
// Every process has its TrayIcon, but the logon session has one icon: it
// is shown by the one hidden window whose thread holds the session's role
// of icon owner (state/session_role.h), and only that window adds it to
// the notification area. What changes the icon, asked of any other
// window, is sent on to the owner's; while no live thread holds the role,
// the first window asked to show the icon takes it. Who shows the icon is
// decided there and nowhere else, apart from who owns the keyboard hook
// (module/hook_owner.h).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <ctime>
#include <vector>

namespace korvane {

// Identifier of the flash timer; the window procedure hands WM_TIMER with
// this wParam to OnTimer.
constexpr UINT_PTR FlashTimerId = 4567;
// The icon's callback message, and its identifier in the notification
// area (the same number as the tray menu's resource, which has a name of
// its own).
constexpr UINT TrayCallbackMessage = WM_APP + 10;
constexpr UINT TrayIconId = 212;

// Private messages of the hidden window. Everything that changes the icon
// is done on the window's own thread (see OnOtherThread below): other
// threads post these. Any process can post to a window, so they carry small
// numbers that the window procedure checks, never a handle or a pointer;
// a message whose values are out of range is ignored.
constexpr UINT TrayLoadFlashIconsMessage = WM_APP + 11;  // first, last icon resource
constexpr UINT TrayStartFlashMessage = WM_APP + 12;      // interval (ms), duration (s)
constexpr UINT TrayPopupStateMessage = WM_APP + 13;      // 0 blocking, 1 allowing
constexpr UINT TrayVisibilityMessage = WM_APP + 14;      // 0 hidden, 1 shown
constexpr UINT TraySyncMessage = WM_APP + 15;            // 0, 0: see SyncWithSwitches

// The flash's limits. Integer resource identifiers have 16 bits; the flash
// shows a handful of images. A flash asked for from another thread runs
// at a sensible pace and always ends.
constexpr UINT kMaxFlashIcons = 16;
constexpr UINT kMinPostedFlashInterval = 50;     // ms
constexpr UINT kMaxPostedFlashInterval = 10000;  // ms
constexpr int kMaxPostedFlashDuration = 60;      // s

// The record is handed to the shell in its first, 88-byte form: every
// shell since the first one that had a notification area accepts it.
constexpr DWORD NotifyRecordSize = 88;
constexpr size_t TrayTooltipSize = 64;  // szTip: 63 bytes of text and the NUL

constexpr char TrayIconClassName[] = "TrayIconClass";

// The tip texts, which say what a double click on the icon would do.
// kBlockingTooltip goes with iconBlocking while popups are blocked,
// kAllowingTooltip with iconAllowing while they are allowed.
constexpr char kBlockingTooltip[] = "Disable Popup Windows";
constexpr char kAllowingTooltip[] = "Enable Popup Windows";

// The calls through which TrayIcon reaches the shell, the timers and the
// clocks. The default is the real system; tests put a recorder in its place
// to see every call and the record it was given.
class TrayPlatform {
public:
    virtual BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data) = 0;
    virtual UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse) = 0;
    virtual BOOL KillTimer(HWND window, UINT_PTR id) = 0;
    // The seconds clock (time()).
    virtual time_t Time() = 0;
    virtual DWORD GetVersion() = 0;
    // Takes the session's icon for window, on its thread, unless another
    // live thread holds it; true when window's thread holds it afterwards.
    // By default (a stand-in shell of its own) every window may.
    virtual bool ClaimIcon(HWND window) {
        (void)window;
        return true;
    }
    // The window that holds the session's icon, as last recorded; null
    // when none is known.
    virtual HWND IconOwnerWindow() { return nullptr; }
    // Whether a live thread other than the calling one holds the icon.
    virtual bool IconHeldElsewhere() { return false; }

protected:
    ~TrayPlatform() = default;
};

// The real shell32, user32, C runtime and kernel32 calls.
TrayPlatform& RealTrayPlatform();

class TrayIcon {
public:
    // Both record the new object as the process's TrayIcon (the one the
    // window procedure serves) until it is destroyed.
    TrayIcon() noexcept;
    explicit TrayIcon(TrayPlatform& platform) noexcept;
    // Deletes the icon from the notification area if it is there and
    // destroys the hidden window. Icons are shared resources and are never
    // destroyed here.
    virtual ~TrayIcon();

    // The mouse messages of the icon: a right button release opens the
    // tray menu, a left double click switches popup blocking. Returns 0 for
    // another icon or when there is no owner window, else 1.
    virtual LRESULT OnIconMessage(WPARAM iconId, LPARAM mouseMessage);

    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Creates the hidden window and fills the record. notifyWindow may be
    // null: the hidden window then receives the icon's messages. Unless
    // startHidden, the icon is added at once. FALSE on a system without a
    // notification area (the object then stays inert).
    BOOL Install(HINSTANCE instance, HWND notifyWindow, UINT callbackMessage, const char* tooltip,
                 HICON icon, UINT iconId, BOOL startHidden);

    // TRUE when the icon is displayed afterwards: never while another
    // window holds the session's icon. From another thread: posted to the
    // window's thread, TRUE when the post succeeded.
    BOOL ShowInTray();
    // TRUE when the icon is not displayed afterwards. Also forgets an add
    // that the shell refused, so the icon does not come back on its own.
    // From another thread: posted, as ShowInTray.
    BOOL HideFromTray();
    BOOL IsDisplayed() const;

    // Shows whether popups are blocked or allowed: the icon and the tip text
    // that go with it (BlockingIcon() and kBlockingTooltip, or
    // AllowingIcon() and kAllowingTooltip). During a flash the flash keeps
    // the image and shows this icon when it ends. From another thread:
    // posted, as ShowInTray.
    BOOL ShowPopupState(bool allowed);

    // NIM_ADD of the record (a displayed icon is deleted first); TRUE when
    // the icon is in the notification area afterwards.
    BOOL NotifyAdd();
    // NIM_DELETE of the record; TRUE when the icon is out of the
    // notification area afterwards.
    BOOL NotifyDelete();

    // Both always update the record; the shell is told only while the icon
    // is displayed (the next add shows the latest icon and text). Result:
    // the shell's answer, or TRUE when the icon is not displayed. Only on
    // the window's thread: other threads use ShowPopupState.
    BOOL ChangeIcon(HICON icon);
    // Keeps at most 63 bytes of text.
    BOOL ChangeTooltip(const char* text);
    HICON CurrentIcon() const;

    // Loads the icon resources first..last, in that order, as the images of
    // the flash. FALSE, keeping the previous list, when first > last, when
    // either is no integer resource identifier (0, or above 0xFFFF), or when
    // the range holds more than kMaxFlashIcons.
    //
    // The flash belongs to the hidden window's thread: its timer can only be
    // set there, and its ticks read the icon list there. A popup is blocked
    // on the thread of the new browser window, so both operations, called
    // from any other thread, are posted to the hidden window and carried out
    // in order on its thread; they then answer TRUE when the post succeeded.
    BOOL LoadFlashIcons(UINT first, UINT last);
    // Flashes the icon every interval milliseconds for duration seconds
    // (0 or less: until stopped), then puts back the icon shown at the
    // start. A running flash is stopped (and its icon put back) first.
    // Asked for from another thread, a flash must end: an interval or a
    // duration outside the kMin/kMaxPosted... limits is ignored there.
    // Both, and ShowPopupState, are sent on to the window that holds the
    // session's icon while a live thread of another holds it (and then
    // answer TRUE); none of them takes the icon.
    BOOL StartFlash(UINT interval, int duration);
    // Ends the flash and puts back the icon remembered at its start. The
    // answer of KillTimer, or FALSE when no flash ran.
    BOOL StopFlash();
    // Shows the next image of the flash.
    BOOL FlashTick();
    // One tick of the flash timer; other timers are ignored. Always 0.
    LRESULT OnTimer(UINT_PTR timerId);

    // Brings the session's icon in line with the shared switches: its image
    // and tip text with popupsAllowed, its visibility with trayIconHidden.
    // Done here when this window holds the icon or takes it now (no live
    // thread holds it); otherwise sent on to the window that holds it. From
    // another thread: posted to this window first.
    BOOL SyncWithSwitches();

    // Adds the icon again after the taskbar was re-created or the work area
    // changed: only when the icon is meant to be displayed (it is, or an add
    // is pending). Afterwards IsDisplayed() is TRUE exactly when the icon is
    // in the notification area.
    BOOL RetryAdd();

    // The window that owns the tray menu and receives its commands.
    HWND MenuOwner() const;

    // True when the hidden window was made and has gone since: a window
    // ends with the thread that made it.
    bool WindowLost() const;
    // Makes the hidden window again on the calling thread, after the thread
    // that had it ended. The icon that window showed is taken out of the
    // notification area (the shell would keep a dead window's icon until
    // the mouse passes over it); the record keeps its icon and text, and a
    // flash that was running is over. TRUE when the icon was displayed, so
    // the caller can have it shown again.
    BOOL Rehome();

    // Read access for the window procedure and for tests.
    HWND HiddenWindow() const { return hiddenWindow_; }
    HINSTANCE Instance() const { return instance_; }
    const NOTIFYICONDATAA& NotifyData() const { return notifyData_; }
    const char* Tooltip() const { return notifyData_.szTip; }
    BOOL IsRemoved() const { return removed_; }
    BOOL IsAddPending() const { return addPending_; }
    BOOL IsFlashing() const { return flashTimer_ != 0; }
    const std::vector<HICON>& FlashIcons() const { return flashIcons_; }

    // Carries out a private message (the Tray...Message numbers above)
    // posted to the window; values out of range are ignored. Always 0.
    LRESULT OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    // True when called on a thread other than the hidden window's.
    bool OnOtherThread() const;
    // On the window's thread: takes the session's icon when no live thread
    // holds it, and then removes the icon that the window before, which has
    // ended, left in the notification area. False while another has it.
    bool TakeIcon();
    // On the window's thread: unless this window holds the session's icon,
    // or takes it now (only when take, and no live thread holds it), posts
    // the message that asked this one to the window that holds it, and
    // answers true.
    bool SentToIconOwner(UINT message, WPARAM wParam, LPARAM lParam, bool take);
    bool MakeWindow();
    // The record gets its icon when it is first needed (shown, or saved by
    // a flash): most processes never show one.
    void MakeIcon();

    TrayPlatform& platform_;
    NOTIFYICONDATAA notifyData_;
    HINSTANCE instance_ = nullptr;
    HWND hiddenWindow_ = nullptr;
    HWND menuOwner_ = nullptr;
    BOOL shellSupported_ = FALSE;
    BOOL hidden_ = TRUE;
    BOOL removed_ = TRUE;
    BOOL addPending_ = FALSE;
    std::vector<HICON> flashIcons_;
    UINT_PTR flashTimer_ = 0;
    DWORD flashStep_ = 0;
    time_t flashStart_ = 0;
    int flashDuration_ = 0;
    HICON iconBeforeFlash_ = nullptr;
    UINT savedFlags_ = 0;
    bool showsAllowing_ = false;  // the state ShowPopupState showed last
    TrayIcon* previous_ = nullptr;
};

// The process's one TrayIcon, a static object constructed when the module
// is initialised.
TrayIcon& TheTrayIcon();

// The object the window procedure serves: the most recently constructed
// TrayIcon still alive (in the product always TheTrayIcon()); null while
// there is none.
TrayIcon* ProcessTrayIcon();

// The session's icon owner (see the top of this file): opened at attach.
// Until then (test programs) each window shows its own icon.
constexpr char kTrayIconOwnerName[] = "Korvane.TrayIconOwner";
bool OpenTrayIconOwner() noexcept;
// Whether a live thread of the session holds the icon (true while the
// owner is not open: nothing of the session can be seen).
bool TrayIconHeld() noexcept;
// Whether the calling thread holds it.
bool TrayIconHeldHere() noexcept;

// How the icon announces a blocked popup: it flashes between its two
// images every kBlockFlashInterval milliseconds for kBlockFlashDuration
// seconds.
constexpr UINT kBlockFlashInterval = 200;
constexpr int kBlockFlashDuration = 1;

// The message number of "TaskbarCreated", registered when the module is
// initialised (0 if that failed).
UINT TaskbarCreatedMessage();

// The window procedure of the hidden window (class "TrayIconClass").
LRESULT CALLBACK TrayIconWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace korvane
