// A browsing session: top-level windows, each on its own apartment thread
// with a message loop, their frames, the helper objects the browser loads
// for each window, and the events it fires at them. Tests drive a Session
// directly; korvane_browser.exe drives one from a session file.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browser/event_args.h"
#include "browser/live_references.h"
#include "browser/page_document.h"
#include "browser/timeline.h"

namespace standin {

enum class SiteKind {
    Browser,       // helpers are sited with the window's browser object
    PlainUnknown,  // "a site that is not a browser": an object with IUnknown only
};

// Which events announce a new window: the browser's documentation has
// NewWindow3 raised instead of NewWindow2 where it exists; some browsers
// raise both (NewWindow2 first). ByProfile: NewWindow2 for IE6, NewWindow3
// from IE7 on.
enum class NewWindowEvents { NewWindow2, NewWindow3, Both, ByProfile };

// The browser played (see README, "Profiles"). IE6: every window a frame
// of its own. IE7: frames hold tabs, each tab a browser window with its own
// thread and helpers; get_HWND answers the frame. IE8: as IE7 (whose frames
// are also made in another process here: see frame_host.h). IE11: as IE8,
// with Enhanced Protected Mode on: the tabs' process loads only the helpers
// registered as compatible with it, from the registry view of its own
// bitness (a 64-bit stand-in plays the 64-bit tabs).
enum class BrowserProfile { IE6, IE7, IE8, IE11 };

// How a page's frames load: with it (Complete), loaded but their
// DocumentComplete held until CompleteFrame (Hold), or not started until
// CompleteFrame (Defer: still loading when the session acts meanwhile).
enum class FrameLoad { Complete, Hold, Defer };

struct SessionOptions {
    std::string siteFolder;            // where http://host/path finds host\path (Windows path)
    bool connectionPoints = true;      // false: browser objects without IConnectionPointContainer
    SiteKind site = SiteKind::Browser;
    bool loadHelpers = true;           // create the classes registered as browser helper objects
    std::vector<CLSID> onlyHelpers;    // not empty: only these of the registered classes
    DWORD stepTimeoutMs = 15000;       // a step still busy after this counts as stuck
    NewWindowEvents newWindowEvents = NewWindowEvents::ByProfile;
    BrowserProfile profile = BrowserProfile::IE6;
    FILE* echo = nullptr;              // timeline lines are also written here as they happen
};

// Where a script's window.open comes from, which NewWindow3's flags tell.
struct ScriptCall {
    bool fromClick = false;   // a click's handler: NWMF_USERINITED | NWMF_FIRST
    bool unloading = false;   // the page's unload handler: NWMF_UNLOADING
    bool features = false;    // custom window features: from IE7 on a frame of its own
};

struct Modifiers {
    bool ctrl = false;
    bool shift = false;
    bool Any() const { return ctrl || shift; }
};

struct WindowInfo {
    int number = 0;                     // 1-based, in order of opening; never reused
    bool open = false;                  // false once its thread has finished closing it
    std::string name;                   // window name ("" for one the user opened)
    std::string url;                    // top document's address
    HWND hwnd = nullptr;                // what get_HWND answers (from IE7 on, its frame); null once closed
    HWND tab = nullptr;                 // from IE7 on: its tab's own window; null once closed
    int frame = 0;                      // from IE7 on: the frame that holds it (FrameInfo::number)
    DWORD threadId = 0;
    bool openedByPage = false;          // created after a NewWindow2
    std::string firstUrl;               // address of its first navigation
    bool firstNavigationCancelled = false;
    bool quitCalled = false;            // a helper called Quit on its browser
    bool destroyedExternally = false;   // its own window (IE6: the frame; later: the tab) was destroyed by someone else
    bool hiddenExternally = false;      // ... or hidden by someone else
    int helpersCreated = 0;
    int helpersSited = 0;               // SetSite(browser) answered S_OK
    int sinks = 0;                      // sinks advised on the window's connection point now
    long browserReferences = 0;         // outside references on its browser object now
};

// From IE7 on: a frame window and the tabs it holds.
struct FrameInfo {
    int number = 0;                     // 1-based, in order of opening
    HWND hwnd = nullptr;
    DWORD processId = 0;                // korvane_frame_host.exe's
    bool open = false;                  // the browser has not closed it
    bool exists = false;                // the window exists and is shown
    bool hiddenExternally = false;      // hidden by someone else than the browser
    bool destroyedExternally = false;   // destroyed by someone else than the browser
    std::vector<int> tabs;              // its windows' numbers, in order of opening
    int active = 0;                     // the tab shown
};

class TopWindow;

class Session {
public:
    explicit Session(SessionOptions options);
    // Closes every window (OnQuit, SetSite(NULL)) and waits for their threads.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Every action waits until the browser is idle again (all windows'
    // work done) and returns false when it could not be done or the wait
    // ran out (LastError says why; the timeline notes it).

    // The user opens a new window and types url: no NewWindow2. Returns the
    // window's number, 0 on failure.
    int Open(const std::string& url, const std::string& name = std::string());
    // The user types url into a window, or a frame is sent there ("w1",
    // "w1/main"). frames: see FrameLoad; the top document's DocumentComplete
    // waits for its frames.
    bool Load(const std::string& context, const std::string& url, FrameLoad frames = FrameLoad::Complete);
    // A click on a link, image-map area or form (submit) of the document in
    // context, read at the moment of the click. Ctrl or Shift is held down
    // through a real key press for the duration of the click.
    bool Click(const std::string& context, const ElementSelector& element, Modifiers modifiers = Modifiers());
    // The page's script in context calls window.open(url, name); "" means
    // no name. holdNavigation: a new window is announced, created and its
    // helpers sited, but its first navigation waits for StartNavigation, so
    // that other events can come between (the browser navigates a new
    // window asynchronously). See ScriptCall for where the call comes from.
    bool ScriptOpen(const std::string& context, const std::string& url, const std::string& name,
                    bool holdNavigation = false, ScriptCall call = ScriptCall());
    // The page's script in context adds a link or a form (element: tag a
    // or form, and its id) to url, with target ("" none), at the end of its
    // document once it has loaded: no event tells a helper.
    bool AddElement(const std::string& context, const ElementSelector& element, const std::string& url,
                    const std::string& target);
    // A new window whose first navigation was held makes it now.
    bool StartNavigation(int window);
    // A held frame finishes loading: its DocumentComplete, and its parents'
    // once all their frames are complete. Frames deferred below it load
    // first.
    bool CompleteFrame(const std::string& context);
    // The user closes a window (as with the close box).
    bool Close(int window);
    bool CloseAll();
    // A real key press or release (SendInput) while the window has the
    // focus; waits until one of the session's threads has taken the key
    // message, so that keyboard hooks have seen it.
    bool Key(int window, UINT virtualKey, bool down);
    // A raw event with explicit arguments, in declaration order (reversed
    // into rgvarg as the browser does), through the window's connection
    // point; noParams passes a null DISPPARAMS. The stand-in does nothing
    // with the outcome except record it.
    bool Fire(const std::string& context, DISPID dispid, const std::vector<RawArg>& args, bool noParams = false);
    void Wait(DWORD milliseconds);

    // Runs code on the thread of the window that holds context, with that
    // context's browser object (not referenced for the caller).
    bool RunOn(const std::string& context, const std::function<void(IWebBrowser2* browser)>& work);

    int OpenWindowCount() const;
    std::vector<WindowInfo> Windows() const;
    // From IE7 on; none in the IE6 profile.
    std::vector<FrameInfo> Frames() const;
    // number is 1-based; an empty WindowInfo when there is no such window.
    WindowInfo Window(int number) const;
    // The URL a context shows now ("" when none or no such context).
    std::string ContextUrl(const std::string& context) const;
    // The document stand-in of the page a context shows now, for its
    // instruments (property writes, live references); null when none.
    std::shared_ptr<Document> DocumentOf(const std::string& context) const;

    Timeline& timeline() { return timeline_; }
    const SessionOptions& options() const { return options_; }
    std::string LastError() const;
    bool WaitIdle();

    // Used by the windows.
    struct Internals;
    Internals& internals() { return *internals_; }

private:
    SessionOptions options_;
    Timeline timeline_;
    std::unique_ptr<Internals> internals_;
};

}  // namespace standin
