#include "helper/browser_events.h"

#include <exdispid.h>
#include <mmsystem.h>
#include <servprov.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <cstdint>
#include <new>

#include "base/ansi_string.h"
#include "base/lock.h"
#include "base/system_library.h"
#include "channel/broker_channel.h"
#include "channel/session_log.h"
#include "helper/popup_filter.h"
#include "helper/view_source.h"
#include "module/module_lifetime.h"
#include "resource.h"
#include "scanner/page_scanner.h"
#include "scanner/target_rules.h"
#include "state/shared_state.h"
#include "state/string_ring.h"
#include "tray/tray_icon.h"
#include "whitelist/whitelist_store.h"

namespace korvane {
namespace {

constexpr DWORD kBeepFrequency = 600;
constexpr DWORD kBeepDuration = 600;

// Argument counts of the events whose arguments are read.
constexpr UINT kBeforeNavigate2Args = 7;
constexpr UINT kNewWindow2Args = 2;
constexpr UINT kNewWindow3Args = 5;
constexpr UINT kNavigateComplete2Args = 2;
constexpr UINT kDocumentCompleteArgs = 2;

// Loaded the first time a wave file is played; without it there is no sound.
SystemLibrary winmm("winmm.dll");

class SystemBlockSound final : public BlockSound {
public:
    void Beep(DWORD frequency, DWORD duration) override { ::Beep(frequency, duration); }
    void PlayWave(const char* path, DWORD flags) override {
        if (auto play = winmm.Find<decltype(&PlaySoundA)>("PlaySoundA")) play(path, nullptr, flags);
    }
};

SystemBlockSound systemBlockSound;
BlockSound* blockSound = &systemBlockSound;

// The browser puts its arguments in reverse order: argument i of the event
// is rgvarg[cArgs - 1 - i].
const VARIANT* Argument(const DISPPARAMS& params, UINT position) {
    if (!params.rgvarg || position >= params.cArgs) return nullptr;
    return &params.rgvarg[params.cArgs - 1 - position];
}

// Strings arrive as BSTRs inside by-reference VARIANTs. Anything missing or
// of another type counts as an empty string.
AnsiString StringArgument(const DISPPARAMS& params, UINT position) {
    const VARIANT* value = Argument(params, position);
    if (!value) return AnsiString();
    if (V_VT(value) == (VT_VARIANT | VT_BYREF)) {
        value = V_VARIANTREF(value);
        if (!value) return AnsiString();
    }
    if (V_VT(value) == VT_BSTR) return ToAnsi(V_BSTR(value));
    if (V_VT(value) == (VT_BSTR | VT_BYREF) && V_BSTRREF(value)) return ToAnsi(*V_BSTRREF(value));
    return AnsiString();
}

// The browser or frame an event concerns, as IWebBrowser2; null when the
// argument is missing or the object is no browser.
ComPtr<IWebBrowser2> BrowserArgument(const DISPPARAMS& params, UINT position) {
    const VARIANT* value = Argument(params, position);
    if (!value) return nullptr;
    if (V_VT(value) == (VT_VARIANT | VT_BYREF)) {
        value = V_VARIANTREF(value);
        if (!value) return nullptr;
    }
    IUnknown* object = nullptr;
    switch (V_VT(value)) {
        case VT_DISPATCH: object = V_DISPATCH(value); break;
        case VT_UNKNOWN: object = V_UNKNOWN(value); break;
        case VT_DISPATCH | VT_BYREF: object = V_DISPATCHREF(value) ? *V_DISPATCHREF(value) : nullptr; break;
        case VT_UNKNOWN | VT_BYREF: object = V_UNKNOWNREF(value) ? *V_UNKNOWNREF(value) : nullptr; break;
        default: break;
    }
    ComPtr<IWebBrowser2> browser;
    if (object) object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(browser.GetAddressOf()));
    return browser;
}

// A Cancel flag: null unless it is what the browser passes, a by-reference
// VARIANT_BOOL. BeforeNavigate2's is its last argument, NewWindow3's its
// second.
VARIANT_BOOL* CancelAt(const VARIANT* value) {
    if (!value || V_VT(value) != (VT_BOOL | VT_BYREF)) return nullptr;
    return V_BOOLREF(value);
}
VARIANT_BOOL* CancelArgument(const DISPPARAMS& params) {
    return params.rgvarg && params.cArgs ? CancelAt(&params.rgvarg[0]) : nullptr;
}

// NewWindow3's flags, an unsigned long (taken also as a long, or by
// reference); false when the argument is anything else.
bool FlagsArgument(const DISPPARAMS& params, UINT position, DWORD* flags) {
    const VARIANT* value = Argument(params, position);
    if (value && V_VT(value) == (VT_VARIANT | VT_BYREF)) value = V_VARIANTREF(value);
    if (!value) return false;
    switch (V_VT(value)) {
        case VT_UI4: *flags = V_UI4(value); return true;
        case VT_I4: *flags = static_cast<DWORD>(V_I4(value)); return true;
        default: return false;
    }
}

// Whether a window's own browser shows a page already. One that cannot
// tell its location counts as showing one: no window is closed on a guess.
bool ShowsPage(IWebBrowser2* browser) {
    UniqueBstr location;
    if (FAILED(browser->get_LocationURL(location.put()))) return true;
    return !ShowsNoPageYet(ToAnsi(location.get()).c_str());
}

// The windows announced in this process and not yet navigated, by the
// helper of the page that announced them.
CriticalSection announcedLock;
AnnouncedWindows announcedWindows;

std::uintptr_t KeyOf(const void* object) { return reinterpret_cast<std::uintptr_t>(object); }

void Announce(const ViewSource& opener, const char* address) {
    ScopedLock hold(announcedLock);
    announcedWindows.Add(KeyOf(&opener), address);
}
void SetAnnouncedAddress(const ViewSource& opener, const char* address) {
    ScopedLock hold(announcedLock);
    announcedWindows.SetAddress(KeyOf(&opener), address);
}
void Withdraw(const ViewSource& opener) {
    ScopedLock hold(announcedLock);
    announcedWindows.Withdraw(KeyOf(&opener));
}
bool TakeAnnouncement(const char* address) {
    ScopedLock hold(announcedLock);
    return announcedWindows.Take(address);
}

// The session's override: Ctrl or Shift held (the keyboard hook sets it
// too), a script link, a white-listed address; cleared when a page
// completes. Read and written here only.
LONG SessionOverride() { return sharedState->popupOverride; }
void SetSessionOverride() { sharedState->popupOverride = 1; }
void ClearSessionOverride() { sharedState->popupOverride = 0; }

// The window that shows the popup and nothing else. Since tabs (IE7),
// get_HWND answers the frame that holds every tab of the window, and a
// tab's own window comes from the shell browser service; before tabs the
// service answers the window get_HWND answers. Null when it cannot be told.
HWND OwnWindowOf(IWebBrowser2* browser) {
    IServiceProvider* services = nullptr;
    if (FAILED(browser->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services))) ||
        !services)
        return nullptr;
    ComPtr<IServiceProvider> heldServices;
    *heldServices.GetAddressOf() = services;
    IOleWindow* window = nullptr;
    if (FAILED(services->QueryService(SID_SShellBrowser, IID_IOleWindow, reinterpret_cast<void**>(&window))) ||
        !window)
        return nullptr;
    ComPtr<IOleWindow> heldWindow;
    *heldWindow.GetAddressOf() = window;
    HWND own = nullptr;
    return SUCCEEDED(window->GetWindow(&own)) ? own : nullptr;
}

// Closes a popup that exists already without touching any window that shows
// something else. A tab is closed by Quit alone: its frame holds the user's
// other tabs (from IE8 on it belongs to another process), and the browser
// closes the frame with its last tab. A window of its own is quit and
// destroyed.
void ClosePopup(IWebBrowser2* popup, HWND frame) {
    const HWND own = OwnWindowOf(popup);
    popup->Quit();
    if (own && own != frame) return;
    DestroyWindow(frame);
}

// Brings the session's tray icon in line with the shared switches once
// after each hand-over: the first event after a process with a visible icon
// unloaded, or after start-up, or once no live thread holds the icon (its
// window's thread ended, or its process was killed). Carried out by the
// window that shows the icon, or takes it.
void SynchroniseTray() {
    if (sharedState->trayIconSynced && TrayIconHeld()) return;
    if (TrayIcon* tray = ProcessTrayIcon()) tray->SyncWithSwitches();
    sharedState->trayIconSynced = 1;
}

// Where the broker keeps the log and shows the icon, it is told, without
// waiting; the session's block keeps the address for a broker that starts
// only later. The sound is this process's own.
void AnnounceBlock(const char* url) {
    if (LeavesToBroker()) {
        WriteToSessionLog(url);
        SendToBroker(BrokerMessageKind::PopupBlocked, url);
    } else if (sharedState->flashOn) {
        if (TrayIcon* tray = ProcessTrayIcon()) {
            tray->LoadFlashIcons(IDI_BLOCKING, IDI_ALLOWING);
            tray->StartFlash(kBlockFlashInterval, kBlockFlashDuration);
        }
    }
    if (!sharedState->soundOn) return;
    if (sharedState->soundIsBeep) {
        blockSound->Beep(kBeepFrequency, kBeepDuration);
        return;
    }
    char path[kPathBufferSize];
    GetSoundFilePath(path, sizeof path);
    // SND_ASYNC: the call returns at once while the sound plays.
    if (path[0]) blockSound->PlayWave(path, SND_FILENAME | SND_ASYNC);
}

// Where the broker saves the white list and the wave file's setting, a
// save there is followed here: the list and "File" are read again.
volatile LONG savesSeen = 0;

void FollowSavedChanges() {
    const LONG saves = sharedState->savedChanges;
    if (saves == savesSeen || !LeavesToBroker()) return;
    savesSeen = saves;
    TheWhiteList().ReloadIfChanged();
    ReadSoundFilePathAgain();
}

bool WhiteListed(const AnsiString& url) {
    if (url.empty() || IsJavascriptUrl(url.c_str())) return false;
    const WhiteListAddress address(url.c_str(), url.length());
    return TheWhiteList().AnyEntry([&address](const char* entry, size_t length) {
        return MatchesWhiteListEntry(address, entry, length);
    });
}

}  // namespace

BlockSound& RealBlockSound() { return systemBlockSound; }
void SetBlockSound(BlockSound* sound) { blockSound = sound ? sound : &systemBlockSound; }

long AnnouncedWindowCount() {
    ScopedLock hold(announcedLock);
    return announcedWindows.Count();
}

void ForgetAnnouncedWindows() {
    ScopedLock hold(announcedLock);
    announcedWindows = AnnouncedWindows();
}

void BrowserEvents::LetPagesGo(ViewSource& self) {
    {
        ScopedLock hold(announcedLock);
        announcedWindows.Forget(KeyOf(&self));
    }
    TheKnownTargetNames().ForgetOwner(KeyOf(self.siteBrowser.Get()));
}

HRESULT BrowserEvents::Invoke(ViewSource& self, DISPID dispId, DISPPARAMS* params) {
    // The hook's owner or the tray window may have ended with their thread.
    AdoptOrphanedHookAndTray();
    SynchroniseTray();
    FollowSavedChanges();
    // A browser may announce one window by NewWindow2 and then NewWindow3:
    // NewWindow3 pairs only with a NewWindow2 just before it. (In the other
    // order a window would be counted twice, and the count of the page's
    // announcements would outlast its windows by one, until the page goes.)
    const DISPID lastAnnouncement = self.lastAnnouncement;
    self.lastAnnouncement = 0;
    // A closing window is let go of whatever the switches say, at once and
    // whole: a connection or a browser pointer left behind would keep this
    // helper, and it the browser, alive until the browser unsites it.
    if (dispId == DISPID_ONQUIT) {
        self.LetGoOfSite();
        return S_OK;
    }
    if (!sharedState->helperActive) return S_OK;
    // A page replaced is let go of whatever the switches say too: the
    // windows it announced wait no longer, and its target names go.
    if (dispId == DISPID_NAVIGATECOMPLETE2) {
        if (params && params->cArgs >= kNavigateComplete2Args) OnNavigateComplete2(self, *params);
        return S_OK;
    }
    if (sharedState->popupsAllowed) {
        // No event is handled while popups are allowed, and no page is
        // scanned, but a page that completes still names its targets: its
        // links open once blocking is on again.
        if (params && (dispId == DISPID_DOCUMENTCOMPLETE || dispId == DISPID_DOWNLOADCOMPLETE))
            NameTargets(self, dispId, *params);
        return S_OK;
    }
    self.inDocumentComplete = 0;
    if (!params) return E_INVALIDARG;

    switch (dispId) {
        case DISPID_DOWNLOADCOMPLETE: {
            self.eventBrowser = self.siteBrowser;
            try {
                self.ScanPage();
            } catch (...) {
                // An abandoned scan leaves the override as it was.
                return S_OK;
            }
            ClearSessionOverride();
            return S_OK;
        }
        case DISPID_BEFORENAVIGATE2:
            return OnBeforeNavigate2(self, *params);
        case DISPID_NEWWINDOW2:
            if (params->cArgs < kNewWindow2Args) return S_OK;
            // The event's own Cancel is left alone: the new window's first
            // navigation is judged instead.
            Announce(self, nullptr);
            self.lastAnnouncement = DISPID_NEWWINDOW2;
            return S_OK;
        case DISPID_NEWWINDOW3:
            return OnNewWindow3(self, *params, lastAnnouncement == DISPID_NEWWINDOW2);
        case DISPID_DOCUMENTCOMPLETE: {
            if (params->cArgs < kDocumentCompleteArgs) return S_OK;
            self.inDocumentComplete = 1;
            self.eventBrowser = BrowserArgument(*params, 0);
            try {
                self.ScanPage();
            } catch (...) {
                // Completed as on the normal path.
            }
            self.inDocumentComplete = 0;
            ClearSessionOverride();
            return S_OK;
        }
        default:
            return S_OK;
    }
}

void BrowserEvents::OnNavigateComplete2(ViewSource& self, DISPPARAMS& params) {
    const ComPtr<IWebBrowser2> browser = BrowserArgument(params, 0);
    if (!browser || !self.siteBrowser) return;
    // The window's own page is replaced, and its frames with it; a frame's
    // page only by the frame's next.
    if (browser.Get() == self.siteBrowser.Get()) {
        LetPagesGo(self);
        return;
    }
    TheKnownTargetNames().ForgetPage(KeyOf(self.siteBrowser.Get()), KeyOf(browser.Get()));
}

void BrowserEvents::NameTargets(ViewSource& self, DISPID dispId, DISPPARAMS& params) {
    IWebBrowser2* page = self.siteBrowser.Get();
    ComPtr<IWebBrowser2> completed;
    if (dispId == DISPID_DOCUMENTCOMPLETE) {
        if (params.cArgs < kDocumentCompleteArgs) return;
        completed = BrowserArgument(params, 0);
        page = completed.Get();
    }
    try {
        ScanTargetNames(page, self.siteBrowser.Get());
    } catch (...) {
        // A page too large to name is judged as one never scanned.
    }
}

HRESULT BrowserEvents::OnNewWindow3(ViewSource& self, DISPPARAMS& params, bool announcedByNewWindow2) {
    if (params.cArgs < kNewWindow3Args) return S_OK;
    VARIANT_BOOL* cancel = CancelAt(Argument(params, 1));
    const AnsiString url = StringArgument(params, 4);
    Verdict verdict = Verdict::LeaveToFirstNavigation;
    if (cancel && *cancel != VARIANT_FALSE) {
        // Another add-on cancelled it: no window comes.
        verdict = Verdict::LetThrough;
    } else if (cancel) {
        NewWindowFacts window;
        window.event = NewWindowEvent::NewWindow3;
        window.hasFlags = FlagsArgument(params, 2, &window.flags);
        window.url = url.c_str();
        window.whiteListed = WhiteListed(url);
        window.popupOverride = SessionOverride();
        verdict = JudgeNewWindow(window);
        if (verdict == Verdict::LeaveToFirstNavigation && !url.empty()) {
            window.pageOpensAddress = PageOpensAddress(self, params);
            verdict = JudgeNewWindow(window);
        }
    }
    if (verdict == Verdict::LeaveToFirstNavigation) {
        // Paired with the window that goes to its address first.
        if (announcedByNewWindow2)
            SetAnnouncedAddress(self, url.c_str());
        else
            Announce(self, url.c_str());
        return S_OK;
    }
    // Decided here: its first navigation, if it comes, is not judged again.
    if (announcedByNewWindow2) Withdraw(self);
    if (verdict == Verdict::Cancel) {
        // Nothing is created: no window to close, and this helper, the
        // opener's, stays connected.
        *cancel = VARIANT_TRUE;
        TheBlockedPopupLog().Add(url.c_str());
        AnnounceBlock(url.c_str());
    }
    return S_OK;
}

HRESULT BrowserEvents::OnBeforeNavigate2(ViewSource& self, DISPPARAMS& params) {
    // Without its arguments nothing can be judged; an announced window
    // waits for its own first navigation.
    VARIANT_BOOL* cancel = params.cArgs >= kBeforeNavigate2Args ? CancelArgument(params) : nullptr;
    if (!cancel) return S_OK;

    const AnsiString url = StringArgument(params, 1);
    const AnsiString target = StringArgument(params, 3);
    NewWindowFacts window;
    window.url = url.c_str();
    window.target = target.c_str();
    window.whiteListed = WhiteListed(url);
    // A script link or a white-listed address, in any window or frame, lets
    // the windows the user starts through until a page completes.
    if (JavascriptUrlSetsOverride(url.c_str()) || window.whiteListed) SetSessionOverride();

    // Only a window's first navigation takes up an announcement, whatever
    // its target: one announcement is one window. A frame is never a new
    // window. The browser is asked only while windows wait.
    ComPtr<IWebBrowser2> browser = AnnouncedWindowCount() > 0 ? BrowserArgument(params, 0) : nullptr;
    if (browser) {
        window.inFrame = browser.Get() != self.siteBrowser.Get();
        window.showsPage = !window.inFrame && ShowsPage(browser.Get());
        window.announced = !window.inFrame && !window.showsPage && TakeAnnouncement(url.c_str());
    }
    if (window.announced) {
        self.eventBrowser = browser;
        KnownTargetNames& names = TheKnownTargetNames();
        window.knownNameToAddress = names.Leads(target.c_str(), LinkAddressKey(url.c_str())) ||
                                    names.Leads(target.c_str(), FormAddressKey(url.c_str()));
    }
    window.popupOverride = SessionOverride();
    if (JudgeNewWindow(window) != Verdict::Block) return S_OK;
    if (Block(self, url, cancel)) AnnounceBlock(url.c_str());
    return S_OK;
}

bool BrowserEvents::Block(ViewSource& self, const AnsiString& url, VARIANT_BOOL* cancel) {
    *cancel = VARIANT_TRUE;
    SHANDLE_PTR handle = 0;
    if (FAILED(self.eventBrowser->get_HWND(&handle))) return false;
    TheBlockedPopupLog().Add(url.c_str());
    self.DetachEvents();
    // Keep the browser: DetachEvents may release the last other reference.
    ComPtr<IWebBrowser2> blocked = self.eventBrowser;
    ClosePopup(blocked.Get(), reinterpret_cast<HWND>(handle));
    return true;
}

bool BrowserEvents::PageOpensAddress(ViewSource& self, DISPPARAMS& params) {
    // The address as the browser gives it, in UTF-16, as the document
    // gives its elements' addresses.
    const VARIANT* value = Argument(params, 4);
    if (value && V_VT(value) == (VT_VARIANT | VT_BYREF)) value = V_VARIANTREF(value);
    if (!value || !self.siteBrowser) return false;
    BSTR url = nullptr;
    if (V_VT(value) == VT_BSTR) url = V_BSTR(value);
    if (V_VT(value) == (VT_BSTR | VT_BYREF) && V_BSTRREF(value)) url = *V_BSTRREF(value);
    try {
        return PageOpensNewWindowTo(self.siteBrowser.Get(), url, SysStringLen(url));
    } catch (...) {
        // A page too large to look at: the names the scan kept decide.
        return false;
    }
}

}  // namespace korvane
