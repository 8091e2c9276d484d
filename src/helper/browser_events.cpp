#include "helper/browser_events.h"

#include <exdispid.h>
#include <mmsystem.h>

#include <new>

#include "base/ansi_string.h"
#include "base/system_library.h"
#include "channel/broker_channel.h"
#include "channel/session_log.h"
#include "helper/popup_filter.h"
#include "helper/view_source.h"
#include "module/module_lifetime.h"
#include "resource.h"
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

// The Cancel flag, always the last argument; null unless it is what the
// browser passes, a by-reference VARIANT_BOOL.
VARIANT_BOOL* CancelArgument(const DISPPARAMS& params) {
    if (!params.rgvarg || params.cArgs == 0) return nullptr;
    const VARIANT& value = params.rgvarg[0];
    if (V_VT(&value) != (VT_BOOL | VT_BYREF)) return nullptr;
    return V_BOOLREF(&value);
}

// Whether the browser or frame shows nothing yet, and so may be a popup. A
// browser that cannot tell its location counts as showing a page: no window
// is closed on a guess.
bool BrowserShowsNoPageYet(IWebBrowser2* browser) {
    UniqueBstr location;
    if (FAILED(browser->get_LocationURL(location.put()))) return false;
    return ShowsNoPageYet(ToAnsi(location.get()).c_str());
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
    const WhiteListAddress address(url.c_str(), url.length());
    return TheWhiteList().AnyEntry([&address](const char* entry, size_t length) {
        return MatchesWhiteListEntry(address, entry, length);
    });
}

}  // namespace

BlockSound& RealBlockSound() { return systemBlockSound; }
void SetBlockSound(BlockSound* sound) { blockSound = sound ? sound : &systemBlockSound; }

HRESULT BrowserEvents::Invoke(ViewSource& self, DISPID dispId, DISPPARAMS* params) {
    // The hook's owner or the tray window may have ended with their thread.
    AdoptOrphanedHookAndTray();
    SynchroniseTray();
    FollowSavedChanges();
    // A closing window is let go of whatever the switches say, at once and
    // whole: a connection or a browser pointer left behind would keep this
    // helper, and it the browser, alive until the browser unsites it.
    if (dispId == DISPID_ONQUIT) {
        self.LetGoOfSite();
        return S_OK;
    }
    if (!sharedState->helperActive) return S_OK;
    // No event is handled while popups are allowed, and no page is scanned.
    if (sharedState->popupsAllowed) return S_OK;
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
            sharedState->popupOverride = 0;
            return S_OK;
        }
        case DISPID_BEFORENAVIGATE2:
            return OnBeforeNavigate2(self, *params);
        case DISPID_NEWWINDOW2:
            if (params->cArgs < kNewWindow2Args) return S_OK;
            // The event's own Cancel is left alone: the new window's first
            // navigation is judged instead.
            newWindowPending = 1;
            return S_OK;
        case DISPID_NEWWINDOW3:
            // Raised where NewWindow2 was by newer browsers, and besides it by
            // some: either marks the window, and both only mark it once.
            if (params->cArgs < kNewWindow3Args) return S_OK;
            newWindowPending = 1;
            return S_OK;
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
            sharedState->popupOverride = 0;
            return S_OK;
        }
        default:
            return S_OK;
    }
}

HRESULT BrowserEvents::OnBeforeNavigate2(ViewSource& self, DISPPARAMS& params) {
    VARIANT_BOOL* cancel = params.cArgs >= kBeforeNavigate2Args ? CancelArgument(params) : nullptr;
    if (!cancel) {
        // Nothing can be judged, but the announced window must not wait for
        // whatever the user does next.
        newWindowPending = 0;
        return S_OK;
    }

    const AnsiString url = StringArgument(params, 1);
    const AnsiString target = StringArgument(params, 3);

    if (!url.empty()) {
        if (IsJavascriptUrl(url.c_str())) {
            if (JavascriptUrlSetsOverride(url.c_str())) sharedState->popupOverride = 1;
        } else if (WhiteListed(url)) {
            // The pending new window stays pending for the next navigation.
            sharedState->popupOverride = 1;
            return S_OK;
        }
    }

    if (JudgeAndBlock(self, params, url, target, cancel)) AnnounceBlock(url.c_str());
    newWindowPending = 0;
    return S_OK;
}

bool BrowserEvents::JudgeAndBlock(ViewSource& self, DISPPARAMS& params, const AnsiString& url,
                                  const AnsiString& target, VARIANT_BOOL* cancel) {
    if (!MayBePopup(sharedState->popupOverride, newWindowPending, target.c_str())) return false;
    // Names the page scan gave to links, areas and forms: the user's own.
    if (TheKnownTargetNames().Contains(target.c_str())) return false;
    self.eventBrowser = BrowserArgument(params, 0);
    if (!self.eventBrowser) return false;
    const bool inFrame = self.eventBrowser.Get() != self.siteBrowser.Get();
    if (IsFrameBlankTarget(inFrame, target.c_str())) return false;
    if (!BrowserShowsNoPageYet(self.eventBrowser.Get())) return false;

    *cancel = VARIANT_TRUE;
    SHANDLE_PTR handle = 0;
    if (FAILED(self.eventBrowser->get_HWND(&handle))) return false;
    TheBlockedPopupLog().Add(url.c_str());
    self.DetachEvents();
    // Keep the browser: DetachEvents may release the last other reference.
    ComPtr<IWebBrowser2> blocked = self.eventBrowser;
    blocked->Quit();
    DestroyWindow(reinterpret_cast<HWND>(handle));
    return true;
}

}  // namespace korvane
