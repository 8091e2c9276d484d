// One top-level browser window: its thread (a single-threaded apartment
// with a message loop), its frame window, its helper objects, and the tree
// of browsing contexts (the window's document and its frames).
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/com.h"
#include "base/lock.h"
#include "browser/browser_object.h"
#include "browser/event_args.h"
#include "browser/frame_host.h"
#include "browser/page_document.h"
#include "browser/session.h"

namespace standin {

class TopWindow;
struct FrameRecord;

// The window's document area or one frame.
class BrowsingContext final : public BrowserOwner {
public:
    BrowsingContext(TopWindow* window, BrowsingContext* parent, std::wstring name);
    ~BrowsingContext() override;
    BrowsingContext(const BrowsingContext&) = delete;
    BrowsingContext& operator=(const BrowsingContext&) = delete;

    TopWindow* window() const { return window_; }
    BrowsingContext* parent() const { return parent_; }
    bool IsTop() const { return parent_ == nullptr; }
    BrowserObject* browser() const { return browser_; }
    std::string Label() const;

    // BrowserOwner
    HWND FrameWindow() override;
    HWND ContentWindow() override;
    void RequestQuit() override;
    korvane::ComPtr<IDispatch> Document() override;
    std::wstring LocationUrl() override;
    std::wstring LocationName() override;
    READYSTATE ReadyState() override;
    IWebBrowser2* TopBrowser() override;
    IWebBrowser2* ParentBrowser() override;
    void RequestNavigation(const std::wstring& url) override;
    void NoteCall(const char* method, HRESULT result, const std::string& detail) override;

    std::wstring name;
    std::wstring url;
    std::shared_ptr<PageDocument> document;
    READYSTATE state = READYSTATE_UNINITIALIZED;
    bool loaded = false;      // has a document whose DocumentComplete is due or done
    bool completed = false;   // DocumentComplete fired for the current document
    bool held = false;        // DocumentComplete waits for CompleteFrame
    // Frames the document declared that have not started loading yet
    // (FrameLoad::Defer); they load at CompleteFrame.
    std::vector<DeclaredFrame> deferredFrames;
    std::vector<std::unique_ptr<BrowsingContext>> frames;

private:
    TopWindow* const window_;
    BrowsingContext* const parent_;
    BrowserObject* browser_;
};

struct NewWindowRequest {
    std::wstring url;
    std::wstring name;           // the window's name, "" for none
    bool hasTarget = false;      // the first BeforeNavigate2 carries targetArgument
    std::wstring targetArgument;
    bool openedByPage = false;
    std::string opener;          // label of the context that asked for it
    bool holdNavigation = false; // the first navigation waits for StartHeldNavigation
    // From IE7 on: the frame that holds the new tab (null: a frame of its
    // own), and whether it opens in the background.
    FrameRecord* frame = nullptr;
    bool background = false;
};

// A browser window: in the IE6 profile a frame window of its own, from IE7
// on a tab in a frame.
class TopWindow final : public FrameWindowOwner {
public:
    TopWindow(Session& session, int number, NewWindowRequest request);
    ~TopWindow();
    TopWindow(const TopWindow&) = delete;
    TopWindow& operator=(const TopWindow&) = delete;

    bool Start();
    int number() const { return number_; }
    HANDLE thread() const { return thread_; }
    Session& session() { return session_; }

    // Runs work on the window's thread, counted as session work; false when
    // the window is gone.
    bool Post(std::function<void()> work);
    // Closes the window (OnQuit, SetSite(NULL), objects released); from any
    // thread, any number of times.
    void RequestClose(const char* reason);
    WindowInfo Info() const;
    bool IsOpen() const { return open_ && !closing_; }
    std::wstring Name() const;

    // Context lookup; the session's tree lock must be held.
    BrowsingContext* FindContext(const std::string& path);  // path below "wN", "" = top
    BrowsingContext* FindByName(const std::wstring& name);
    BrowsingContext* Top() { return top_.get(); }
    IDispatch* TopDispatch();  // null once closed

    // Actions, run on the window's thread through Post.
    void NavigateAction(BrowsingContext* context, const std::wstring& url, const std::wstring* target,
                        FrameLoad frames = FrameLoad::Complete);
    bool ClickAction(BrowsingContext* context, const ElementSelector& element, Modifiers modifiers,
                     std::string* error);
    // The page's script adds a link or a form (element: its tag and id) to
    // the end of the document; no event fires.
    bool AddElementAction(BrowsingContext* context, const ElementSelector& element, const std::string& url,
                          const std::string& target, std::string* error);
    void ScriptOpenAction(BrowsingContext* context, const std::wstring& url, const std::wstring& name,
                          bool holdNavigation, ScriptCall call);
    bool StartHeldNavigation(std::string* error);
    bool CompleteAction(BrowsingContext* context, std::string* error);
    void FireAction(BrowsingContext* context, DISPID dispid, const std::vector<RawArg>& args, bool noParams);
    void FocusAndSendKey(UINT virtualKey, bool down);

    // From IE7 on, on the window's thread: the frame shows this tab, or
    // another one (WindowStateChanged).
    void ShowTab(bool shown);
    FrameRecord* Frame() const { return frame_; }

    // FrameWindowOwner: the window's own window (IE6: its frame; later:
    // its tab window).
    void OnFrameClose() override { RequestClose("WM_CLOSE"); }
    void OnFrameGone(bool outside) override;
    void OnFrameHidden() override;
    void OnTeardownMessage();

private:
    class BusyScope;
    friend class BrowsingContext;

    static DWORD WINAPI ThreadMain(void* self);
    void Run();
    bool CreateWindows();
    void LoadHelpers();
    void MessageLoop();
    void Teardown();
    void LeaveBusy();

    // Navigation.
    bool LoadContext(BrowsingContext* context, const std::wstring& url, const std::wstring* target,
                     bool deferFrames = false);
    void LoadFrames(BrowsingContext* context, const std::vector<DeclaredFrame>& declared);
    void CompleteContext(BrowsingContext* context);
    void CompleteUpward(BrowsingContext* context);
    void DiscardFrames(BrowsingContext* context);
    std::shared_ptr<PageDocument> ReadPage(BrowsingContext* context, const std::wstring& url);
    void FollowTarget(BrowsingContext* source, const std::wstring& url, const std::wstring& target,
                      DWORD newWindowFlags, bool holdNavigation);
    // flags: the NWMF flags NewWindow3 carries; from IE7 on they also say
    // where the window opens (a tab, a background tab, a frame of its own).
    void OpenNewWindow(BrowsingContext* source, const std::wstring& url, const std::wstring& name,
                       const std::wstring& targetArgument, DWORD flags, bool holdNavigation = false);
    DWORD ProfileFlags(DWORD flags) const;
    // NewWindow2 and/or NewWindow3, as the session's options say; false when
    // a sink cancelled. given: what a sink stored through ppDisp.
    bool AnnounceNewWindow(BrowsingContext* source, const std::wstring& url, DWORD flags,
                           korvane::ComPtr<IDispatch>* given);

    // Fires an event concerning context: through the frame's own connection
    // point first when it is a frame, then through the window's.
    void FireEvent(BrowsingContext* context, DISPID dispid, DISPPARAMS* params, const std::wstring& url,
                   const std::wstring* target, bool hasCancel);
    void Record(TimelineEntry entry);

    Session& session_;
    const int number_;
    const NewWindowRequest request_;
    HANDLE thread_ = nullptr;
    volatile DWORD threadId_ = 0;
    HWND volatile hwnd_ = nullptr;     // what get_HWND answers
    HWND volatile tabHwnd_ = nullptr;  // from IE7 on: the tab's own window
    FrameRecord* const frame_;         // from IE7 on: the frame that holds it
    HWND volatile taskHwnd_ = nullptr;
    std::unique_ptr<BrowsingContext> top_;
    PlainSite* plainSite_ = nullptr;

    struct Helper {
        CLSID clsid;
        korvane::ComPtr<IUnknown> object;
        korvane::ComPtr<IObjectWithSite> site;
    };
    std::vector<Helper> helpers_;

    mutable korvane::CriticalSection stateLock_;
    volatile bool open_ = false;
    volatile bool closing_ = false;
    bool closeRequested_ = false;
    bool teardownPosted_ = false;
    bool teardownDone_ = false;
    bool deferredTeardown_ = false;
    int busyDepth_ = 0;

    // For WindowInfo.
    std::wstring firstUrl_;
    bool firstNavigationDone_ = false;
    bool navigationHeld_ = false;
    bool firstNavigationCancelled_ = false;
    bool quitCalled_ = false;
    bool destroyedExternally_ = false;
    bool hiddenExternally_ = false;
    int helpersCreated_ = 0;
    int helpersSited_ = 0;
};

// From IE7 on: a frame window and its tabs. Owned by the session; its
// fields are guarded by the session's tree lock.
struct FrameRecord {
    int number = 0;
    HWND hwnd = nullptr;
    bool open = true;
    std::vector<TopWindow*> tabs;       // in order of opening
    std::vector<TopWindow*> shown;      // each tab once, the one shown last at the end
};

// Shared state of a session, reached from every window thread.
struct Session::Internals {
    explicit Internals(Session& owner) : session(owner) {}

    Session& session;

    // Work accounting: a step is done when nothing is pending.
    std::mutex workLock;
    std::condition_variable workIdle;
    long pending = 0;
    void BeginWork();
    void EndWork();
    bool WaitIdle(DWORD timeoutMs);

    // The window list and every window's context tree. Held only briefly,
    // never while an event is fired or a message sent.
    mutable korvane::CriticalSection treeLock;
    std::vector<std::unique_ptr<TopWindow>> windows;
    std::string lastError;

    // Key messages taken by any of the session's threads.
    std::mutex keyLock;
    std::condition_variable keyTaken;
    long keyMessages[256][2] = {};
    void NoteKey(UINT virtualKey, bool down);

    TopWindow* CreateTopWindow(NewWindowRequest request);

    // From IE7 on: the frames and the thread or process that makes them.
    std::vector<std::unique_ptr<FrameRecord>> frames;
    std::unique_ptr<FrameHost> frameHost;
    // A new frame; null (with the error set) when none could be made.
    FrameRecord* NewFrame();
    // A tab of frame is shown (the one shown before is hidden), on the
    // calling tab's thread; or it closed (another is shown, or the frame
    // goes with its last tab).
    void ShowTab(TopWindow* tab);
    void TabClosed(TopWindow* tab);
    TopWindow* FindWindow(int number);
    // Another window (or a frame in one) with this name; false when none.
    bool FindNamedElsewhere(TopWindow* from, const std::wstring& name, TopWindow** window,
                            std::string* path);
    TopWindow* WindowByBrowser(IDispatch* browser);
    void SetError(const std::string& error);
};

}  // namespace standin
