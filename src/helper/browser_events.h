// The browser helper object's handling of DWebBrowserEvents2: keeping the
// tray icon in step with the shared switches, telling popups from windows
// the user asked for, and starting the page scan when a page has loaded.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "base/ansi_string.h"

namespace korvane {

class ViewSource;

class BrowserEvents {
public:
    // Handles one event of the browser self is sited in; self.Invoke passes
    // every call here. Arguments come from the browser and are checked
    // before use: a call too short for its event, or whose Cancel is not a
    // by-reference VARIANT_BOOL, judges and scans nothing, and an announced
    // window goes on waiting for its own first navigation. OnQuit drops the
    // event connection and the browser even while the helper is switched off
    // or popups are allowed. Exceptions other than an abandoned page scan are
    // caught by the caller.
    static HRESULT Invoke(ViewSource& self, DISPID dispId, DISPPARAMS* params);
    // The page of self's window is gone, or the window: the windows it
    // announced wait no longer, and the target names its pages gave out are
    // no longer known (the ring of recent names keeps its own).
    static void LetPagesGo(ViewSource& self);

private:
    static HRESULT OnBeforeNavigate2(ViewSource& self, DISPPARAMS& params);
    // Judges a window before it exists: cancelled there, let through, or
    // left to its first navigation. announcedByNewWindow2: the event just
    // before announced the same window.
    static HRESULT OnNewWindow3(ViewSource& self, DISPPARAMS& params, bool announcedByNewWindow2);
    static void OnNavigateComplete2(ViewSource& self, DISPPARAMS& params);
    // The naming part of the page scan, for a page that completes while
    // popups are allowed.
    static void NameTargets(ViewSource& self, DISPID dispId, DISPPARAMS& params);
    // Cancels the navigation of eventBrowser, a popup, and closes its
    // window; true when it was closed and logged, so the user is to be told.
    static bool Block(ViewSource& self, const AnsiString& url, VARIANT_BOOL* cancel);
    // Whether the page self's window shows holds a link, an area or a form
    // that opens a new window to the address NewWindow3 gives.
    static bool PageOpensAddress(ViewSource& self, DISPPARAMS& params);
};

// How a block is announced by sound. The default plays through the
// speaker and winmm; tests put a recorder in its place.
class BlockSound {
public:
    virtual void Beep(DWORD frequency, DWORD duration) = 0;
    virtual void PlayWave(const char* path, DWORD flags) = 0;

protected:
    ~BlockSound() = default;
};

// The windows announced in this process whose first navigation has not
// come yet; and, for tests, a process with none.
long AnnouncedWindowCount();
void ForgetAnnouncedWindows();

BlockSound& RealBlockSound();
// Replaces the sound used for blocks; null puts the real one back.
void SetBlockSound(BlockSound* sound);

}  // namespace korvane
