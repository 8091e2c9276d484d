#include "browser/top_window.h"

#include <exdispid.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "browser/dom/dom.h"
#include "browser/helper_loader.h"
#include "browser/navigation_rules.h"
#include "browser/text_conversion.h"

namespace standin {

using korvane::ComPtr;
using korvane::ScopedLock;

namespace {

constexpr UINT kTaskMessage = WM_APP + 1;
constexpr UINT kTeardownMessage = WM_APP + 2;
constexpr wchar_t kTaskClass[] = L"KorvaneStandinTasks";
// Pages bigger than this are cut: a page of any size must not exhaust memory.
constexpr DWORD kMaxPageBytes = 64 * 1024 * 1024;
constexpr int kMaxFrameDepth = 16;
constexpr size_t kMaxFramesPerDocument = 1000;
// NWMF flags of NewWindow3, as shobjidl.h defines them.
constexpr DWORD kNewWindowUnloading = 0x1;
constexpr DWORD kNewWindowUserInited = 0x2;
constexpr DWORD kNewWindowFirst = 0x4;
constexpr DWORD kNewWindowUserRequested = 0x80;
constexpr DWORD kNewWindowForceWindow = 0x10000;
constexpr DWORD kNewWindowForceTab = 0x20000;
constexpr DWORD kNewWindowSuggestWindow = 0x40000;
constexpr DWORD kNewWindowSuggestTab = 0x80000;
constexpr DWORD kNewWindowInactiveTab = 0x100000;
constexpr DWORD kNewWindowTabFlags = 0x1F0000;
// WindowStateChanged: OLECMDIDF_WINDOWSTATE_USERVISIBLE | _ENABLED.
constexpr DWORD kWindowStateShown = 0x3;

double Milliseconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

LRESULT CALLBACK TaskWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* owner = reinterpret_cast<TopWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == kTaskMessage) {
            std::unique_ptr<std::function<void()>> work(reinterpret_cast<std::function<void()>*>(lParam));
            if (owner) {
                try {
                    (*work)();
                } catch (...) {
                }
                owner->session().internals().EndWork();
            }
            return 0;
        }
        if (message == kTeardownMessage && owner) {
            owner->OnTeardownMessage();
            return 0;
        }
    } catch (...) {
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterClasses() {
    static bool registered = false;
    static korvane::CriticalSection lock;
    ScopedLock hold(lock);
    if (registered) return true;
    WNDCLASSEXW task{};
    task.cbSize = sizeof task;
    task.lpfnWndProc = TaskWindowProc;
    task.hInstance = GetModuleHandleW(nullptr);
    task.lpszClassName = kTaskClass;
    if (!RegisterClassExW(&task) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    registered = true;
    return true;
}

}  // namespace

// Marks the window busy with an operation that fires events; a close asked
// for meanwhile (Quit or DestroyWindow from inside a handler) is carried out
// once the outermost operation has unwound.
class TopWindow::BusyScope {
public:
    explicit BusyScope(TopWindow* window) : window_(window) { ++window_->busyDepth_; }
    ~BusyScope() { window_->LeaveBusy(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    TopWindow* window_;
};

// ---------------------------------------------------------------------------
// BrowsingContext

BrowsingContext::BrowsingContext(TopWindow* window, BrowsingContext* parent, std::wstring frameName)
    : name(std::move(frameName)), window_(window), parent_(parent) {
    BrowserObjectOptions options;
    options.isFrame = parent != nullptr;
    options.connectionPoints = window->session().options().connectionPoints;
    browser_ = BrowserObject::Create(this, options);
}

BrowsingContext::~BrowsingContext() {
    frames.clear();
    browser_->Detach();
}

std::string BrowsingContext::Label() const {
    if (!parent_) return "w" + std::to_string(window_->number());
    std::string segment = Narrow(name);
    if (segment.empty()) {
        size_t index = 0;
        for (; index < parent_->frames.size(); ++index)
            if (parent_->frames[index].get() == this) break;
        segment = "#" + std::to_string(index);
    }
    return parent_->Label() + "/" + segment;
}

HWND BrowsingContext::FrameWindow() { return window_->hwnd_; }

HWND BrowsingContext::ContentWindow() { return window_->frame_ ? window_->tabHwnd_ : window_->hwnd_; }

void BrowsingContext::RequestQuit() {
    {
        ScopedLock hold(window_->stateLock_);
        window_->quitCalled_ = true;
    }
    window_->RequestClose("Quit");
}

ComPtr<IDispatch> BrowsingContext::Document() {
    if (!document) return nullptr;
    return document->Html();
}

std::wstring BrowsingContext::LocationUrl() { return url; }

std::wstring BrowsingContext::LocationName() {
    std::wstring title = document ? document->Title() : std::wstring();
    return title.empty() ? url : title;
}

READYSTATE BrowsingContext::ReadyState() { return state; }

IWebBrowser2* BrowsingContext::TopBrowser() {
    const BrowsingContext* context = this;
    while (context->parent_) context = context->parent_;
    return context->browser_->Interface();
}

IWebBrowser2* BrowsingContext::ParentBrowser() {
    return parent_ ? parent_->browser_->Interface() : browser_->Interface();
}

void BrowsingContext::RequestNavigation(const std::wstring& address) {
    std::string path;
    {
        ScopedLock hold(window_->session().internals().treeLock);
        const std::string label = Label();
        const size_t slash = label.find('/');
        path = slash == std::string::npos ? std::string() : label.substr(slash + 1);
    }
    TopWindow* window = window_;
    window->Post([window, path, address]() {
        BrowsingContext* context = nullptr;
        {
            ScopedLock hold(window->session().internals().treeLock);
            context = window->FindContext(path);
        }
        if (context) window->NavigateAction(context, address, nullptr);
    });
}

void BrowsingContext::NoteCall(const char* method, HRESULT result, const std::string& detail) {
    TimelineEntry entry;
    entry.kind = TimelineKind::BrowserCall;
    entry.window = window_->number();
    entry.context = Label();
    entry.detail = std::string(method) + (detail.empty() ? "" : " " + detail);
    entry.hr = result;
    window_->Record(entry);
}

// ---------------------------------------------------------------------------
// TopWindow: thread and windows

TopWindow::TopWindow(Session& session, int number, NewWindowRequest request)
    : session_(session), number_(number), request_(std::move(request)), frame_(request_.frame) {}

TopWindow::~TopWindow() {
    if (thread_) CloseHandle(thread_);
}

bool TopWindow::Start() {
    session_.internals().BeginWork();  // ends once the window has loaded its first page
    DWORD id = 0;
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, &id);
    if (!thread_) {
        session_.internals().EndWork();
        return false;
    }
    return true;
}

DWORD WINAPI TopWindow::ThreadMain(void* self) {
    try {
        static_cast<TopWindow*>(self)->Run();
    } catch (...) {
    }
    return 0;
}

void TopWindow::Record(TimelineEntry entry) {
    if (!entry.window) entry.window = number_;
    session_.timeline().Add(std::move(entry));
}

std::wstring TopWindow::Name() const {
    ScopedLock hold(session_.internals().treeLock);
    return top_ ? top_->name : request_.name;
}

void TopWindow::Run() {
    threadId_ = GetCurrentThreadId();
    Session::Internals& internals = session_.internals();
    // Each browser window runs in a single-threaded apartment of its own, as
    // the browser's windows do: helpers are created, sited and called here.
    const HRESULT oleInit = OleInitialize(nullptr);
    bool started = CreateWindows();
    if (started) {
        {
            ScopedLock hold(internals.treeLock);
            top_.reset(new BrowsingContext(this, nullptr, request_.name));
            if (session_.options().site == SiteKind::PlainUnknown) plainSite_ = PlainSite::Create();
            open_ = true;
        }
        TimelineEntry opened;
        opened.kind = TimelineKind::WindowOpened;
        opened.context = top_->Label();
        opened.url = Narrow(request_.url);
        opened.target = Narrow(request_.name);
        opened.detail = request_.openedByPage ? "opened by " + request_.opener : "opened by the user";
        if (frame_)
            opened.detail += std::string(request_.background ? ", a background tab" : ", a tab") + " of frame f" +
                             std::to_string(frame_->number);
        Record(opened);
        LoadHelpers();
        if (frame_ && !request_.background && !closing_) internals.ShowTab(this);
        if (request_.holdNavigation && !closing_) {
            navigationHeld_ = true;
            TimelineEntry held;
            held.kind = TimelineKind::Note;
            held.context = top_->Label();
            held.url = Narrow(request_.url);
            held.detail = "first navigation held";
            Record(held);
        } else if (!request_.url.empty() && !closing_) {
            NavigateAction(top_.get(), request_.url, request_.hasTarget ? &request_.targetArgument : nullptr);
        }
    } else {
        TimelineEntry failed;
        failed.kind = TimelineKind::Note;
        failed.detail = "the window could not be created";
        Record(failed);
        RequestClose("creation failed");
    }
    {
        ScopedLock hold(stateLock_);
        // A close asked for before the task window existed.
        if (closeRequested_ && !teardownPosted_ && taskHwnd_) {
            teardownPosted_ = PostMessageW(taskHwnd_, kTeardownMessage, 0, 0) != FALSE;
        }
    }
    internals.EndWork();  // the window's start
    if (started) MessageLoop();
    if (!teardownDone_) Teardown();
    // No work can be posted once the task window is withdrawn; work posted
    // before is dropped, but still accounted for.
    HWND task = nullptr;
    {
        ScopedLock hold(stateLock_);
        task = taskHwnd_;
        taskHwnd_ = nullptr;
    }
    if (task) {
        MSG msg;
        while (PeekMessageW(&msg, task, kTaskMessage, kTaskMessage, PM_REMOVE)) {
            delete reinterpret_cast<std::function<void()>*>(msg.lParam);
            internals.EndWork();
        }
        DestroyWindow(task);
    }
    if (SUCCEEDED(oleInit)) OleUninitialize();
    bool countedClose = false;
    {
        ScopedLock hold(stateLock_);
        open_ = false;
        countedClose = closeRequested_;
    }
    if (countedClose) internals.EndWork();  // the close
}

bool TopWindow::CreateWindows() {
    if (!RegisterClasses()) return false;
    HWND task = CreateWindowExW(0, kTaskClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), this);
    if (!task) return false;
    {
        ScopedLock hold(stateLock_);
        taskHwnd_ = task;
    }
    if (!frame_) {
        // The window is a frame of its own, as before tabs.
        HWND frame = CreateFrameWindow(number_, this);
        if (!frame) return false;
        hwnd_ = frame;
        return true;
    }
    // A tab: get_HWND answers the frame that holds it; its own window is a
    // child of that frame, whichever thread or process made the frame.
    HWND tab = CreateTabWindow(frame_->hwnd, number_, this);
    if (!tab) return false;
    hwnd_ = frame_->hwnd;
    tabHwnd_ = tab;
    return true;
}

void TopWindow::LoadHelpers() {
    if (!session_.options().loadHelpers) return;
    std::vector<CLSID> classes = RegisteredHelperClasses();
    const std::vector<CLSID>& only = session_.options().onlyHelpers;
    if (!only.empty()) {
        classes.erase(std::remove_if(classes.begin(), classes.end(),
                                     [&](const CLSID& clsid) {
                                         return std::find(only.begin(), only.end(), clsid) == only.end();
                                     }),
                      classes.end());
    }
    if (session_.options().profile == BrowserProfile::IE11) {
        for (const CLSID& clsid : classes) {
            if (CompatibleWithEnhancedProtectedMode(clsid)) continue;
            TimelineEntry skipped;
            skipped.kind = TimelineKind::Note;
            skipped.context = top_->Label();
            skipped.detail = GuidText(clsid) + " not loaded: not registered as compatible with Enhanced Protected Mode";
            Record(skipped);
        }
        classes.erase(std::remove_if(classes.begin(), classes.end(),
                                     [](const CLSID& clsid) { return !CompatibleWithEnhancedProtectedMode(clsid); }),
                      classes.end());
    }
    if (classes.empty()) {
        TimelineEntry none;
        none.kind = TimelineKind::Note;
        none.context = top_->Label();
        none.detail = only.empty() ? "no helper object is registered" : "none of the chosen helper objects is registered";
        Record(none);
    }
    for (const CLSID& clsid : classes) {
        Helper helper;
        helper.clsid = clsid;
        TimelineEntry created;
        created.kind = TimelineKind::HelperCreated;
        created.context = top_->Label();
        created.detail = GuidText(clsid);
        // Real activation: the class factory of the InprocServer32 that
        // registration wrote, in this apartment.
        const double creating = Milliseconds();
        created.hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(helper.object.GetAddressOf()));
        created.milliseconds = Milliseconds() - creating;
        Record(created);
        if (FAILED(created.hr) || !helper.object) continue;
        ++helpersCreated_;
        if (FAILED(helper.object.As(&helper.site))) {
            TimelineEntry note;
            note.kind = TimelineKind::Note;
            note.context = top_->Label();
            note.detail = GuidText(clsid) + " has no IObjectWithSite; released";
            Record(note);
            continue;
        }
        IUnknown* site = plainSite_ ? static_cast<IUnknown*>(plainSite_)
                                    : static_cast<IUnknown*>(top_->browser()->Interface());
        TimelineEntry sited;
        sited.kind = TimelineKind::SiteSet;
        sited.context = top_->Label();
        sited.detail = GuidText(clsid) + (plainSite_ ? " (plain IUnknown site)" : " (browser)");
        {
            BusyScope busy(this);
            const double siting = Milliseconds();
            sited.hr = helper.site->SetSite(site);
            sited.milliseconds = Milliseconds() - siting;
        }
        Record(sited);
        if (sited.hr == S_OK) ++helpersSited_;
        helpers_.push_back(std::move(helper));
        if (closing_) break;
    }
}

void TopWindow::MessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)
            session_.internals().NoteKey(static_cast<UINT>(msg.wParam), true);
        else if (msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP)
            session_.internals().NoteKey(static_cast<UINT>(msg.wParam), false);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool TopWindow::Post(std::function<void()> work) {
    // Posted (never sent) under the lock, so that the task window cannot be
    // withdrawn between the check and the post.
    Session::Internals& internals = session_.internals();
    internals.BeginWork();
    auto* task = new std::function<void()>(std::move(work));
    bool posted = false;
    {
        ScopedLock hold(stateLock_);
        if (taskHwnd_ && open_ && !teardownDone_)
            posted = PostMessageW(taskHwnd_, kTaskMessage, 0, reinterpret_cast<LPARAM>(task)) != FALSE;
    }
    if (!posted) {
        delete task;
        internals.EndWork();
    }
    return posted;
}

void TopWindow::RequestClose(const char* reason) {
    closing_ = true;
    bool post = false;
    {
        ScopedLock hold(stateLock_);
        if (closeRequested_) return;
        closeRequested_ = true;
        post = taskHwnd_ != nullptr;
    }
    session_.internals().BeginWork();  // ends when the thread has finished closing
    TimelineEntry entry;
    entry.kind = TimelineKind::Note;
    entry.window = number_;
    entry.detail = std::string("closing: ") + reason;
    Record(entry);
    if (!post) return;  // the thread posts it once its task window exists
    ScopedLock hold(stateLock_);
    if (taskHwnd_ && !teardownPosted_)
        teardownPosted_ = PostMessageW(taskHwnd_, kTeardownMessage, 0, 0) != FALSE;
}

void TopWindow::OnTeardownMessage() {
    if (busyDepth_ > 0) {
        deferredTeardown_ = true;
        return;
    }
    Teardown();
}

void TopWindow::LeaveBusy() {
    if (--busyDepth_ > 0) return;
    if (deferredTeardown_ && !teardownDone_) {
        deferredTeardown_ = false;
        Teardown();
    }
}

void TopWindow::OnFrameGone(bool outside) {
    hwnd_ = nullptr;
    tabHwnd_ = nullptr;
    if (outside) {
        {
            ScopedLock hold(stateLock_);
            destroyedExternally_ = true;
        }
        TimelineEntry entry;
        entry.kind = TimelineKind::WindowDestroyed;
        entry.window = number_;
        entry.detail = "DestroyWindow from outside the browser";
        Record(entry);
    }
    RequestClose(frame_ ? "tab window destroyed" : "frame window destroyed");
}

void TopWindow::OnFrameHidden() {
    {
        ScopedLock hold(stateLock_);
        hiddenExternally_ = true;
    }
    TimelineEntry entry;
    entry.kind = TimelineKind::Note;
    entry.window = number_;
    entry.detail = frame_ ? "tab window hidden from outside the browser" : "frame window hidden from outside the browser";
    Record(entry);
}

void TopWindow::ShowTab(bool shown) {
    if (!tabHwnd_ || closing_) return;
    ownChange = true;
    ShowWindow(tabHwnd_, shown ? SW_SHOWNA : SW_HIDE);
    ownChange = false;
    if (!top_) return;
    auto changed = EventArgs::WindowStateChanged(shown ? kWindowStateShown : 0, kWindowStateShown);
    FireEvent(top_.get(), kWindowStateChanged, changed->Params(), std::wstring(), nullptr, false);
}

void TopWindow::Teardown() {
    {
        ScopedLock hold(stateLock_);
        if (teardownDone_) return;
        teardownDone_ = true;  // no more work is taken from now on
    }
    closing_ = true;
    if (top_) {
        // The browser's closing order: OnQuit to the sinks, then every
        // helper is unsited and released.
        auto quit = EventArgs::Empty();
        {
            BusyScope busy(this);
            FireEvent(top_.get(), kOnQuit, quit->Params(), std::wstring(), nullptr, false);
            for (Helper& helper : helpers_) {
                if (!helper.site) continue;
                TimelineEntry unsited;
                unsited.kind = TimelineKind::SiteSet;
                unsited.context = top_->Label();
                unsited.detail = GuidText(helper.clsid) + " (NULL)";
                unsited.hr = helper.site->SetSite(nullptr);
                Record(unsited);
            }
        }
        helpers_.clear();
        // The browser does not unadvise anyone's sink: a sink still advised
        // now keeps its helper alive, and a helper that holds the browser
        // keeps it alive too, for as long as the process runs. Such a
        // browser object is kept where the final reference check finds it;
        // one that nothing else holds goes, and its sinks with it.
        int left = 0;
        int kept = 0;
        std::vector<BrowsingContext*> pending{top_.get()};
        while (!pending.empty()) {
            BrowsingContext* context = pending.back();
            pending.pop_back();
            for (auto& frame : context->frames) pending.push_back(frame.get());
            EventConnectionPoint* events = context->browser()->Events();
            const int sinks = events ? events->SinkCount() : 0;
            if (sinks == 0) continue;
            left += sinks;
            if (context->browser()->ExternalReferences() + events->ExternalReferences() == 0) continue;
            KeepAbandonedBrowser(context->browser());
            ++kept;
        }
        if (left > 0) {
            TimelineEntry entry;
            entry.kind = TimelineKind::SinksLeft;
            entry.window = number_;
            entry.detail = std::to_string(left) + " still advised" +
                           (kept > 0 ? ", keeping " + std::to_string(kept) + " browser object(s) alive"
                                     : ", released with the browser");
            Record(entry);
        }
        std::unique_ptr<BrowsingContext> top;
        {
            ScopedLock hold(session_.internals().treeLock);
            top = std::move(top_);
        }
        top.reset();
    }
    if (plainSite_) {
        plainSite_->Unpin();
        plainSite_ = nullptr;
    }
    // The window's own window: the frame before tabs, else the tab's, and
    // the frame goes with its last tab.
    if (HWND own = frame_ ? tabHwnd_ : hwnd_) {
        ownChange = true;
        DestroyWindow(own);
        ownChange = false;
    }
    hwnd_ = nullptr;
    tabHwnd_ = nullptr;
    if (frame_) session_.internals().TabClosed(this);
    TimelineEntry closed;
    closed.kind = TimelineKind::WindowClosed;
    closed.window = number_;
    Record(closed);
    PostQuitMessage(0);
}

IDispatch* TopWindow::TopDispatch() { return top_ ? top_->browser()->Dispatch() : nullptr; }

WindowInfo TopWindow::Info() const {
    WindowInfo info;
    info.number = number_;
    info.threadId = threadId_;
    info.hwnd = hwnd_;
    info.tab = tabHwnd_;
    if (frame_) info.frame = frame_->number;
    {
        ScopedLock hold(session_.internals().treeLock);
        if (top_) {
            info.name = Narrow(top_->name);
            info.url = Narrow(top_->url);
            if (top_->browser()->Events()) info.sinks = top_->browser()->Events()->SinkCount();
            info.browserReferences = top_->browser()->ExternalReferences();
        } else {
            info.name = Narrow(request_.name);
        }
    }
    ScopedLock hold(stateLock_);
    info.open = open_;
    info.openedByPage = request_.openedByPage;
    info.firstUrl = Narrow(firstUrl_.empty() ? request_.url : firstUrl_);
    info.firstNavigationCancelled = firstNavigationCancelled_;
    info.quitCalled = quitCalled_;
    info.destroyedExternally = destroyedExternally_;
    info.hiddenExternally = hiddenExternally_;
    info.helpersCreated = helpersCreated_;
    info.helpersSited = helpersSited_;
    return info;
}

// ---------------------------------------------------------------------------
// Contexts

BrowsingContext* TopWindow::FindContext(const std::string& path) {
    BrowsingContext* context = top_.get();
    if (!context || path.empty()) return context;
    size_t start = 0;
    while (context && start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        const std::string segment = path.substr(start, slash - start);
        start = slash + 1;
        if (segment.empty()) continue;
        if (segment[0] == '#') {
            const size_t index = static_cast<size_t>(std::strtoul(segment.c_str() + 1, nullptr, 10));
            context = index < context->frames.size() ? context->frames[index].get() : nullptr;
            continue;
        }
        // A name anywhere below the current context, depth first.
        const std::wstring name = Widen(segment);
        BrowsingContext* found = nullptr;
        std::vector<BrowsingContext*> stack;
        for (auto it = context->frames.rbegin(); it != context->frames.rend(); ++it) stack.push_back(it->get());
        while (!stack.empty() && !found) {
            BrowsingContext* candidate = stack.back();
            stack.pop_back();
            if (candidate->name == name) {
                found = candidate;
                break;
            }
            for (auto it = candidate->frames.rbegin(); it != candidate->frames.rend(); ++it)
                stack.push_back(it->get());
        }
        context = found;
    }
    return context;
}

BrowsingContext* TopWindow::FindByName(const std::wstring& name) {
    if (!top_ || name.empty()) return nullptr;
    if (top_->name == name) return top_.get();
    std::vector<BrowsingContext*> stack{top_.get()};
    while (!stack.empty()) {
        BrowsingContext* context = stack.back();
        stack.pop_back();
        if (context != top_.get() && context->name == name) return context;
        for (auto it = context->frames.rbegin(); it != context->frames.rend(); ++it) stack.push_back(it->get());
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Events and navigation (on the window's thread)

void TopWindow::FireEvent(BrowsingContext* context, DISPID dispid, DISPPARAMS* params, const std::wstring& url,
                          const std::wstring* target, bool hasCancel) {
    BusyScope busy(this);
    EventConnectionPoint* own = !context->IsTop() ? context->browser()->Events() : nullptr;
    EventConnectionPoint* all = top_ ? top_->browser()->Events() : nullptr;
    // The event's line goes first, so that what the sinks do while handling
    // it follows it in the timeline.
    TimelineEntry entry;
    entry.kind = TimelineKind::Event;
    entry.window = number_;
    entry.context = context->Label();
    entry.dispid = dispid;
    entry.url = Narrow(url);
    if (target) entry.target = Narrow(*target);
    entry.detail = "sinks " + std::to_string((own ? own->SinkCount() : 0) + (all ? all->SinkCount() : 0));
    // What decides a new window's fate, and whether a tab is shown.
    if (dispid == kNewWindow3 && params && params->cArgs == 5 && params->rgvarg[2].vt == VT_UI4) {
        char flags[32];
        snprintf(flags, sizeof flags, "flags 0x%lX, ", static_cast<unsigned long>(params->rgvarg[2].ulVal));
        entry.detail = flags + entry.detail;
    } else if (dispid == kWindowStateChanged && params && params->cArgs == 2) {
        entry.detail = std::string(params->rgvarg[1].lVal ? "shown, " : "hidden, ") + entry.detail;
    }
    VARIANT_BOOL* cancel = nullptr;
    if (hasCancel && params && params->rgvarg) {
        for (UINT i = 0; i < params->cArgs; ++i) {
            VARIANT& v = params->rgvarg[i];
            if (v.vt == (VT_BYREF | VT_BOOL) && v.pboolVal) cancel = v.pboolVal;
        }
    }
    entry.hasCancel = cancel != nullptr;
    const size_t index = session_.timeline().Add(entry);

    std::vector<SinkCall> calls;
    if (own) calls = own->Fire(dispid, params);
    if (all) {
        std::vector<SinkCall> more = all->Fire(dispid, params);
        calls.insert(calls.end(), more.begin(), more.end());
    }
    for (const SinkCall& call : calls) {
        if (call.result == S_OK) continue;
        TimelineEntry answer;
        answer.kind = TimelineKind::Note;
        answer.context = context->Label();
        answer.detail = "the sink of cookie " + std::to_string(call.cookie) + " answered " + EventName(dispid) +
                        " with " + HresultText(call.result);
        Record(answer);
    }
    if (!cancel || *cancel == VARIANT_FALSE) return;
    session_.timeline().MarkCancelled(index);
    // BeforeNavigate2 and NewWindow2 say so where the browser acts on it.
    if (dispid == kBeforeNavigate2 || dispid == kNewWindow2 || dispid == kNewWindow3) return;
    TimelineEntry set;
    set.kind = TimelineKind::Note;
    set.context = context->Label();
    set.detail = "Cancel came back set";
    Record(set);
}

void TopWindow::NavigateAction(BrowsingContext* context, const std::wstring& url, const std::wstring* target,
                               FrameLoad frames) {
    BusyScope busy(this);
    if (closing_) return;
    const bool first = context->IsTop() && !firstNavigationDone_;
    if (first) {
        ScopedLock hold(stateLock_);
        firstNavigationDone_ = true;
        firstUrl_ = url;
    }
    const bool loaded = LoadContext(context, url, target, frames == FrameLoad::Defer);
    if (first && !loaded) {
        ScopedLock hold(stateLock_);
        firstNavigationCancelled_ = true;
    }
    if (!loaded || closing_) return;
    if (frames == FrameLoad::Hold) {
        // Every frame below waits for CompleteFrame; a frameset completes
        // once all its frames have.
        ScopedLock hold(session_.internals().treeLock);
        std::vector<BrowsingContext*> stack;
        for (auto& frame : context->frames) stack.push_back(frame.get());
        while (!stack.empty()) {
            BrowsingContext* c = stack.back();
            stack.pop_back();
            if (c->loaded) c->held = true;
            for (auto& frame : c->frames) stack.push_back(frame.get());
        }
    }
    CompleteContext(context);
}

std::shared_ptr<PageDocument> TopWindow::ReadPage(BrowsingContext* context, const std::wstring& url) {
    const std::string address = Narrow(url);
    if (EqualsNoCase(address, "about:blank")) return PageDocument::Parse(std::string(), url);
    const std::string file = PageFileForUrl(session_.options().siteFolder, address);
    std::string bytes;
    bool found = false;
    if (!file.empty()) {
        const std::wstring path = Widen(file);
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            found = true;
            char chunk[65536];
            DWORD read = 0;
            while (bytes.size() < kMaxPageBytes && ReadFile(handle, chunk, sizeof chunk, &read, nullptr) && read)
                bytes.append(chunk, read);
            if (bytes.size() > kMaxPageBytes) bytes.resize(kMaxPageBytes);
            CloseHandle(handle);
        }
    }
    if (!found) {
        TimelineEntry missing;
        missing.kind = TimelineKind::PageMissing;
        missing.context = context->Label();
        missing.url = address;
        missing.detail = file.empty() ? "no file for this address" : "no file " + file;
        Record(missing);
    }
    return PageDocument::Parse(bytes, url);
}

void TopWindow::DiscardFrames(BrowsingContext* context) {
    std::vector<std::unique_ptr<BrowsingContext>> old;
    {
        ScopedLock hold(session_.internals().treeLock);
        old.swap(context->frames);
    }
    old.clear();  // each frame's browser object is detached and unpinned
}

bool TopWindow::LoadContext(BrowsingContext* context, const std::wstring& url, const std::wstring* target,
                            bool deferFrames) {
    auto before = EventArgs::BeforeNavigate2(context->browser()->Dispatch(), url, target);
    FireEvent(context, kBeforeNavigate2, before->Params(), url, target, true);
    if (before->Cancelled()) {
        TimelineEntry cancelled;
        cancelled.kind = TimelineKind::NavigationCancelled;
        cancelled.context = context->Label();
        cancelled.url = Narrow(url);
        Record(cancelled);
        return false;
    }
    if (closing_) return false;
    if (IsScriptUrl(Narrow(url))) {
        // The browser hands a script address to the document's script
        // engine; the stand-in runs no script (a session says what the
        // script does with script-open).
        TimelineEntry note;
        note.kind = TimelineKind::Note;
        note.context = context->Label();
        note.url = Narrow(url);
        note.detail = "script address: no script is run";
        Record(note);
        return false;
    }
    context->state = READYSTATE_LOADING;
    auto begin = EventArgs::Empty();
    FireEvent(context, kDownloadBegin, begin->Params(), std::wstring(), nullptr, false);
    if (closing_) return false;
    std::shared_ptr<PageDocument> document = ReadPage(context, url);
    auto downloaded = EventArgs::Empty();
    FireEvent(context, kDownloadComplete, downloaded->Params(), std::wstring(), nullptr, false);
    if (closing_) return false;
    DiscardFrames(context);
    {
        ScopedLock hold(session_.internals().treeLock);
        context->url = url;
        context->document = document;
        context->loaded = true;
        context->completed = false;
        context->held = false;
        context->deferredFrames.clear();
        context->state = READYSTATE_INTERACTIVE;
    }
    auto navigated = EventArgs::BrowserAndUrl(context->browser()->Dispatch(), url);
    FireEvent(context, kNavigateComplete2, navigated->Params(), url, nullptr, false);
    if (closing_) return true;
    const std::vector<DeclaredFrame> declared = document->Frames();
    if (deferFrames && !declared.empty()) {
        {
            ScopedLock hold(session_.internals().treeLock);
            context->deferredFrames = declared;
        }
        TimelineEntry note;
        note.kind = TimelineKind::Note;
        note.context = context->Label();
        note.detail = std::to_string(declared.size()) + " frame(s) not loading yet";
        Record(note);
        return true;
    }
    LoadFrames(context, declared);
    return true;
}

void TopWindow::LoadFrames(BrowsingContext* context, const std::vector<DeclaredFrame>& declared) {
    // Frames load after their frameset has navigated, in document order.
    int depth = 0;
    for (const BrowsingContext* c = context; c->parent(); c = c->parent()) ++depth;
    size_t index = 0;
    for (const DeclaredFrame& frame : declared) {
        if (closing_) break;
        // A page that frames itself, directly or through others, would
        // load for ever, and a page of any size may declare any number of
        // frames: such frames stay empty, as browsers leave them.
        std::wstring source = frame.src.empty() ? std::wstring(L"about:blank") : frame.src;
        bool recursive = false;
        for (const BrowsingContext* c = context; c; c = c->parent())
            if (c->url == source) recursive = true;
        if (recursive || depth >= kMaxFrameDepth || index >= kMaxFramesPerDocument) {
            TimelineEntry skipped;
            skipped.kind = TimelineKind::Note;
            skipped.context = context->Label();
            skipped.url = Narrow(source);
            skipped.detail = recursive ? "frame not loaded: it would show a page that contains it"
                                       : "frame not loaded: too many or too deeply nested frames";
            Record(skipped);
            ++index;
            continue;
        }
        ++index;
        BrowsingContext* child = nullptr;
        {
            ScopedLock hold(session_.internals().treeLock);
            context->frames.emplace_back(new BrowsingContext(this, context, frame.name));
            child = context->frames.back().get();
        }
        LoadContext(child, source, nullptr);
    }
}

void TopWindow::CompleteContext(BrowsingContext* context) {
    if (closing_ || !context->loaded || context->completed) return;
    if (!context->deferredFrames.empty()) return;  // its frames have not even begun
    // A frameset completes after all its frames: each frame's own
    // DocumentComplete first, in document order, the top document's last.
    for (size_t i = 0; i < context->frames.size(); ++i) {
        BrowsingContext* frame = context->frames[i].get();
        if (frame->held && frame->loaded && !frame->completed) return;  // waits for CompleteFrame
        CompleteContext(frame);
        if (closing_) return;
    }
    for (auto& frame : context->frames)
        if (frame->loaded && !frame->completed) return;
    context->completed = true;
    context->held = false;
    context->state = READYSTATE_COMPLETE;
    auto complete = EventArgs::BrowserAndUrl(context->browser()->Dispatch(), context->url);
    FireEvent(context, kDocumentComplete, complete->Params(), context->url, nullptr, false);
    TimelineEntry loaded;
    loaded.kind = TimelineKind::DocumentLoaded;
    loaded.context = context->Label();
    loaded.url = Narrow(context->url);
    Record(loaded);
}

void TopWindow::CompleteUpward(BrowsingContext* context) {
    for (BrowsingContext* parent = context->parent(); parent && !closing_; parent = parent->parent()) {
        bool ready = true;
        for (auto& frame : parent->frames)
            if (frame->loaded && !frame->completed) ready = false;
        if (!ready) return;
        parent->held = false;
        CompleteContext(parent);
    }
}

bool TopWindow::CompleteAction(BrowsingContext* context, std::string* error) {
    BusyScope busy(this);
    if (!context->loaded) {
        *error = context->Label() + " has no document";
        return false;
    }
    if (context->completed) {
        *error = context->Label() + " has already completed";
        return false;
    }
    if (!context->deferredFrames.empty()) {
        std::vector<DeclaredFrame> declared;
        {
            ScopedLock hold(session_.internals().treeLock);
            declared.swap(context->deferredFrames);
        }
        LoadFrames(context, declared);
        if (closing_) return true;
    }
    // Its own frames complete with it.
    std::vector<BrowsingContext*> stack{context};
    while (!stack.empty()) {
        BrowsingContext* c = stack.back();
        stack.pop_back();
        c->held = false;
        for (auto& frame : c->frames) stack.push_back(frame.get());
    }
    CompleteContext(context);
    CompleteUpward(context);
    return true;
}

// ---------------------------------------------------------------------------
// Clicks, targets and new windows

bool TopWindow::ClickAction(BrowsingContext* context, const ElementSelector& element, Modifiers modifiers,
                            std::string* error) {
    BusyScope busy(this);
    if (!context->document) {
        *error = context->Label() + " has no document";
        return false;
    }
    // The element is read now, so a target the page scan rewrote is the one
    // that counts.
    const Clickable clickable = context->document->FindClickable(element);
    if (!clickable.found) {
        *error = "no such " + element.tag + " in " + context->Label();
        return false;
    }
    std::wstring href = clickable.href;
    std::wstring url = Widen(ResolveUrl(Narrow(context->url), Narrow(href)));
    if (url.empty()) url = context->url;
    const std::wstring target = clickable.target.empty() ? clickable.baseTarget : clickable.target;
    TimelineEntry note;
    note.kind = TimelineKind::Note;
    note.context = context->Label();
    note.url = Narrow(url);
    note.target = Narrow(target);
    note.detail = "click on " + element.tag + (modifiers.ctrl ? " with Ctrl" : "") + (modifiers.shift ? " with Shift" : "");
    Record(note);
    if (modifiers.Any() && element.tag != "form") {
        // The key went down before the click and every hook saw it. Wine
        // sets a window's key state again from the X server's keyboard when
        // the X focus reaches it, and the X server knows nothing of keys
        // sent with SendInput: under load that can come after the key and
        // "release" it. The user is still holding it, so this thread's key
        // state says so again, as it would on Windows.
        BYTE keys[256];
        if (GetKeyboardState(keys)) {
            bool lost = false;
            for (const auto& held : {std::make_pair(modifiers.ctrl, VK_CONTROL),
                                     std::make_pair(modifiers.shift, VK_SHIFT)}) {
                if (held.first && !(keys[held.second] & 0x80)) {
                    keys[held.second] |= 0x80;
                    lost = true;
                }
            }
            if (lost) SetKeyboardState(keys);
        }
        // A link clicked with Ctrl or Shift opens in a new window: from IE7
        // on, with Ctrl a background tab, with Shift a window of its own.
        const DWORD clicked = kNewWindowUserInited | kNewWindowFirst;
        OpenNewWindow(context, url, std::wstring(), L"_blank",
                      modifiers.shift ? clicked | kNewWindowUserRequested | kNewWindowForceWindow
                                      : clicked | kNewWindowForceTab | kNewWindowInactiveTab);
        return true;
    }
    FollowTarget(context, url, target, kNewWindowUserInited | kNewWindowFirst, false);
    return true;
}

void TopWindow::FollowTarget(BrowsingContext* source, const std::wstring& url, const std::wstring& target,
                             DWORD newWindowFlags, bool holdNavigation) {
    // TargetFrameName is null when no named frame is targeted: a navigation
    // that stays where it is, whatever keyword brought it there. A keyword
    // that leads to another frame, and every name, is passed as written.
    auto navigate = [&](BrowsingContext* context) {
        NavigateAction(context, url, context == source ? nullptr : &target);
    };
    switch (ClassifyTarget(Narrow(target))) {
    case TargetKind::Self:
        navigate(source);
        return;
    case TargetKind::Parent:
        navigate(source->parent() ? source->parent() : source);
        return;
    case TargetKind::Top:
        navigate(top_.get());
        return;
    case TargetKind::Blank:
        OpenNewWindow(source, url, std::wstring(), L"_blank", newWindowFlags, holdNavigation);
        return;
    case TargetKind::Named:
        break;
    }
    BrowsingContext* here = nullptr;
    {
        ScopedLock hold(session_.internals().treeLock);
        here = FindByName(target);
    }
    if (here) {
        NavigateAction(here, url, &target);
        return;
    }
    TopWindow* other = nullptr;
    std::string path;
    if (session_.internals().FindNamedElsewhere(this, target, &other, &path)) {
        const std::wstring name = target;
        other->Post([other, path, url, name]() {
            BrowsingContext* context = nullptr;
            {
                ScopedLock hold(other->session().internals().treeLock);
                context = other->FindContext(path);
            }
            if (context) other->NavigateAction(context, url, &name);
        });
        return;
    }
    OpenNewWindow(source, url, target, target, newWindowFlags, holdNavigation);
}

void TopWindow::ScriptOpenAction(BrowsingContext* context, const std::wstring& url, const std::wstring& name,
                                 bool holdNavigation, ScriptCall call) {
    BusyScope busy(this);
    std::wstring address = url.empty() ? L"about:blank" : Widen(ResolveUrl(Narrow(context->url), Narrow(url)));
    TimelineEntry note;
    note.kind = TimelineKind::Note;
    note.context = context->Label();
    note.url = Narrow(address);
    note.target = Narrow(name);
    note.detail = std::string("window.open") + (call.fromClick ? " from a click's handler" : "") +
                  (call.unloading ? " from the unload handler" : "") + (call.features ? " with features" : "");
    Record(note);
    // The page's own doing: only a click it handles says a user started it.
    DWORD flags = call.fromClick ? kNewWindowUserInited | kNewWindowFirst : 0;
    if (call.unloading) flags |= kNewWindowUnloading;
    if (call.features) flags |= kNewWindowSuggestWindow;
    if (name.empty()) {
        OpenNewWindow(context, address, std::wstring(), L"_blank", flags, holdNavigation);
        return;
    }
    FollowTarget(context, address, name, flags, holdNavigation);
}

bool TopWindow::AddElementAction(BrowsingContext* context, const ElementSelector& element, const std::string& url,
                                 const std::string& target, std::string* error) {
    BusyScope busy(this);
    if (!context->document) {
        *error = context->Label() + " has no document";
        return false;
    }
    std::vector<std::pair<std::string, std::string>> attributes{
        {"id", element.value}, {element.tag == "form" ? "action" : "href", url}};
    if (!target.empty()) attributes.emplace_back("target", target);
    context->document->Dom()->AppendElement(element.tag, attributes, element.value);
    TimelineEntry note;
    note.kind = TimelineKind::Note;
    note.context = context->Label();
    note.url = url;
    note.target = target;
    note.detail = "the page's script added " + element.tag + "#" + element.value;
    Record(note);
    return true;
}

bool TopWindow::StartHeldNavigation(std::string* error) {
    if (!navigationHeld_) {
        *error = "w" + std::to_string(number_) + " has no navigation waiting";
        return false;
    }
    navigationHeld_ = false;
    NavigateAction(top_.get(), request_.url, request_.hasTarget ? &request_.targetArgument : nullptr);
    return true;
}

DWORD TopWindow::ProfileFlags(DWORD flags) const {
    // Before tabs no flag speaks of them. From IE7 on, with "Let Internet
    // Explorer decide", a window with features of its own is suggested a
    // window, any other a tab.
    if (!frame_) return flags & ~kNewWindowTabFlags;
    if (!(flags & (kNewWindowForceWindow | kNewWindowForceTab | kNewWindowSuggestWindow))) flags |= kNewWindowSuggestTab;
    return flags;
}

bool TopWindow::AnnounceNewWindow(BrowsingContext* source, const std::wstring& url, DWORD flags,
                                  ComPtr<IDispatch>* given) {
    const NewWindowEvents events = session_.options().newWindowEvents;
    if (events != NewWindowEvents::NewWindow3) {
        auto args = EventArgs::NewWindow2();
        FireEvent(source, kNewWindow2, args->Params(), url, nullptr, true);
        // Not Attach: mingw-w64's ComPtr::Attach adds a reference of its own.
        *given->ReleaseAndGetAddressOf() = args->TakeNewWindowDispatch();
        if (args->Cancelled()) return false;
    }
    if (events != NewWindowEvents::NewWindow2) {
        auto args = EventArgs::NewWindow3(flags, source->url, url);
        FireEvent(source, kNewWindow3, args->Params(), url, nullptr, true);
        ComPtr<IDispatch> third;
        *third.ReleaseAndGetAddressOf() = args->TakeNewWindowDispatch();
        if (third) *given = third;
        if (args->Cancelled()) return false;
    }
    return true;
}

void TopWindow::OpenNewWindow(BrowsingContext* source, const std::wstring& url, const std::wstring& name,
                              const std::wstring& targetArgument, DWORD flags, bool holdNavigation) {
    flags = ProfileFlags(flags);
    ComPtr<IDispatch> given;
    if (!AnnounceNewWindow(source, url, flags, &given)) {
        TimelineEntry cancelled;
        cancelled.kind = TimelineKind::NewWindowCancelled;
        cancelled.context = source->Label();
        cancelled.url = Narrow(url);
        Record(cancelled);
        return;
    }
    if (given) {
        // A sink may hand over a browser of its own for the new window.
        TopWindow* chosen = session_.internals().WindowByBrowser(given.Get());
        TimelineEntry note;
        note.kind = TimelineKind::Note;
        note.context = source->Label();
        note.url = Narrow(url);
        if (chosen) {
            note.detail = "NewWindow2 handed over w" + std::to_string(chosen->number());
            Record(note);
            const std::wstring argument = targetArgument;
            chosen->Post([chosen, url, argument]() {
                if (chosen->Top()) chosen->NavigateAction(chosen->Top(), url, &argument);
            });
            return;
        }
        note.detail = "NewWindow2 handed over an object that is no browser window: ignored";
        Record(note);
    }
    NewWindowRequest request;
    request.url = url;
    request.name = name;
    request.hasTarget = true;
    request.targetArgument = targetArgument;
    request.openedByPage = true;
    request.opener = source->Label();
    request.holdNavigation = holdNavigation;
    // From IE7 on a tab of the opener's frame, or a frame of its own.
    if (frame_ && !(flags & (kNewWindowForceWindow | kNewWindowSuggestWindow))) {
        request.frame = frame_;
        request.background = (flags & kNewWindowInactiveTab) != 0;
    }
    session_.internals().CreateTopWindow(request);
}

// ---------------------------------------------------------------------------
// Raw events and keys

void TopWindow::FireAction(BrowsingContext* context, DISPID dispid, const std::vector<RawArg>& args,
                           bool noParams) {
    BusyScope busy(this);
    if (noParams) {
        FireEvent(context, dispid, nullptr, std::wstring(), nullptr, false);
        return;
    }
    auto block = RawEventBuilder::Build(args, [this, context](const std::string& frame) -> IDispatch* {
        if (frame.empty()) return context->browser()->Dispatch();
        ScopedLock hold(session_.internals().treeLock);
        BrowsingContext* named = FindContext(frame);
        return named ? named->browser()->Dispatch() : nullptr;
    });
    TimelineEntry raw;
    raw.kind = TimelineKind::Note;
    raw.context = context->Label();
    raw.detail = "raw " + EventName(dispid) + ": " + DescribeArgs(block->Params());
    Record(raw);
    FireEvent(context, dispid, block->Params(), std::wstring(), nullptr, true);
    ComPtr<IDispatch> given;  // what a sink stored through a ref-dispatch argument
    *given.ReleaseAndGetAddressOf() = block->TakeNewWindowDispatch();
}

void TopWindow::FocusAndSendKey(UINT virtualKey, bool down) {
    if (HWND own = frame_ ? tabHwnd_ : hwnd_) {
        // The key goes to the thread whose window has the focus: a tab's
        // own, inside a frame another thread or process made.
        SetForegroundWindow(GetAncestor(own, GA_ROOT));
        if (!frame_) SetActiveWindow(own);
        SetFocus(own);
    }
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(virtualKey);
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, 0));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

}  // namespace standin
