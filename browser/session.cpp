#include "browser/session.h"

#include <algorithm>
#include <chrono>

#include "browser/navigation_rules.h"
#include "browser/text_conversion.h"
#include "browser/top_window.h"

namespace standin {

using korvane::ScopedLock;

// ---------------------------------------------------------------------------
// Internals

void Session::Internals::BeginWork() {
    std::lock_guard<std::mutex> hold(workLock);
    ++pending;
}

void Session::Internals::EndWork() {
    std::lock_guard<std::mutex> hold(workLock);
    if (pending > 0) --pending;
    if (pending == 0) workIdle.notify_all();
}

bool Session::Internals::WaitIdle(DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(workLock);
    return workIdle.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return pending == 0; });
}

void Session::Internals::NoteKey(UINT virtualKey, bool down) {
    {
        std::lock_guard<std::mutex> hold(keyLock);
        keyMessages[virtualKey & 0xFF][down ? 1 : 0]++;
    }
    keyTaken.notify_all();
}

TopWindow* Session::Internals::CreateTopWindow(NewWindowRequest request) {
    // From IE7 on every window is a tab, of its opener's frame or of one of
    // its own.
    if (session.options().profile != BrowserProfile::IE6 && !request.frame) {
        request.frame = NewFrame();
        if (!request.frame) return nullptr;
    }
    TopWindow* window = nullptr;
    {
        ScopedLock hold(treeLock);
        const int number = static_cast<int>(windows.size()) + 1;
        windows.emplace_back(new TopWindow(session, number, request));
        window = windows.back().get();
        if (request.frame) request.frame->tabs.push_back(window);
    }
    if (!window->Start()) {
        SetError("the window's thread could not be started");
        return nullptr;
    }
    return window;
}

FrameRecord* Session::Internals::NewFrame() {
    if (!frameHost) {
        SetError("there is no frame window host for the tabs");
        return nullptr;
    }
    FrameRecord* frame = nullptr;
    {
        ScopedLock hold(treeLock);
        frames.emplace_back(new FrameRecord());
        frame = frames.back().get();
        frame->number = static_cast<int>(frames.size());
    }
    // Sent to the host's thread or process: never under the tree lock.
    const HWND made = frameHost->CreateFrame(frame->number);
    ScopedLock hold(treeLock);
    frame->hwnd = made;
    frame->open = made != nullptr;
    if (!made) {
        lastError = "the frame window could not be made";
        return nullptr;
    }
    return frame;
}

void Session::Internals::ShowTab(TopWindow* tab) {
    FrameRecord* frame = tab->Frame();
    TopWindow* previous = nullptr;
    {
        ScopedLock hold(treeLock);
        if (!frame->shown.empty()) previous = frame->shown.back();
        frame->shown.erase(std::remove(frame->shown.begin(), frame->shown.end(), tab), frame->shown.end());
        frame->shown.push_back(tab);
    }
    if (previous && previous != tab) previous->Post([previous] { previous->ShowTab(false); });
    tab->ShowTab(true);
}

void Session::Internals::TabClosed(TopWindow* tab) {
    FrameRecord* frame = tab->Frame();
    TopWindow* next = nullptr;
    HWND last = nullptr;
    {
        ScopedLock hold(treeLock);
        const bool wasShown = !frame->shown.empty() && frame->shown.back() == tab;
        frame->tabs.erase(std::remove(frame->tabs.begin(), frame->tabs.end(), tab), frame->tabs.end());
        frame->shown.erase(std::remove(frame->shown.begin(), frame->shown.end(), tab), frame->shown.end());
        if (frame->tabs.empty()) {
            last = frame->open ? frame->hwnd : nullptr;
            frame->open = false;
        } else if (wasShown) {
            // The tab shown before it, or the newest one never shown.
            next = frame->shown.empty() ? frame->tabs.back() : frame->shown.back();
        }
    }
    // The browser closes a frame with its last tab.
    if (last && frameHost) frameHost->DestroyFrame(last);
    if (next) next->Post([this, next] { ShowTab(next); });
}

TopWindow* Session::Internals::FindWindow(int number) {
    ScopedLock hold(treeLock);
    if (number < 1 || number > static_cast<int>(windows.size())) return nullptr;
    return windows[static_cast<size_t>(number - 1)].get();
}

bool Session::Internals::FindNamedElsewhere(TopWindow* from, const std::wstring& name, TopWindow** window,
                                            std::string* path) {
    ScopedLock hold(treeLock);
    for (auto& candidate : windows) {
        if (candidate.get() == from || !candidate->IsOpen()) continue;
        BrowsingContext* context = candidate->FindByName(name);
        if (!context) continue;
        const std::string label = context->Label();
        const size_t slash = label.find('/');
        *path = slash == std::string::npos ? std::string() : label.substr(slash + 1);
        *window = candidate.get();
        return true;
    }
    return false;
}

TopWindow* Session::Internals::WindowByBrowser(IDispatch* browser) {
    if (!browser) return nullptr;
    korvane::ComPtr<IWebBrowser2> asked;
    if (FAILED(browser->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(asked.GetAddressOf()))))
        return nullptr;
    ScopedLock hold(treeLock);
    for (auto& candidate : windows) {
        if (!candidate->IsOpen() || !candidate->Top()) continue;
        if (candidate->Top()->browser()->Interface() == asked.Get()) return candidate.get();
    }
    return nullptr;
}

void Session::Internals::SetError(const std::string& error) {
    {
        ScopedLock hold(treeLock);
        lastError = error;
    }
    TimelineEntry entry;
    entry.kind = TimelineKind::Note;
    entry.detail = "error: " + error;
    session.timeline().Add(entry);
}

// ---------------------------------------------------------------------------
// Session

namespace {

// "w3" -> 3 and the rest of the path ("w3/main" -> "main").
bool SplitContext(const std::string& context, int* window, std::string* path) {
    if (context.size() < 2 || (context[0] != 'w' && context[0] != 'W')) return false;
    size_t i = 1;
    int number = 0;
    while (i < context.size() && context[i] >= '0' && context[i] <= '9') {
        number = number * 10 + (context[i] - '0');
        if (number > 1000000) return false;
        ++i;
    }
    if (i == 1 || number == 0) return false;
    if (i < context.size() && context[i] != '/') return false;
    *window = number;
    *path = i < context.size() ? context.substr(i + 1) : std::string();
    return true;
}

}  // namespace

Session::Session(SessionOptions options) : options_(std::move(options)), internals_(new Internals(*this)) {
    timeline_.Echo(options_.echo);
    if (options_.newWindowEvents == NewWindowEvents::ByProfile)
        options_.newWindowEvents =
            options_.profile == BrowserProfile::IE6 ? NewWindowEvents::NewWindow2 : NewWindowEvents::NewWindow3;
    if (options_.profile != BrowserProfile::IE6) {
        std::string error;
        internals_->frameHost = FrameHost::Start(&error);
        if (!internals_->frameHost) internals_->SetError(error);
    }
}

Session::~Session() {
    CloseAll();
    std::vector<HANDLE> threads;
    {
        ScopedLock hold(internals_->treeLock);
        for (auto& window : internals_->windows)
            if (window->thread()) threads.push_back(window->thread());
    }
    for (HANDLE thread : threads) WaitForSingleObject(thread, options_.stepTimeoutMs);
    // A thread still running here is stuck in a helper; its window object
    // must outlive it, so it is left behind rather than freed under it.
    {
        ScopedLock hold(internals_->treeLock);
        for (auto& window : internals_->windows) {
            if (window->thread() && WaitForSingleObject(window->thread(), 0) != WAIT_OBJECT_0) window.release();
        }
    }
    // The frames' host goes after their tabs.
    internals_->frameHost.reset();
}

bool Session::WaitIdle() {
    if (internals_->WaitIdle(options_.stepTimeoutMs)) return true;
    internals_->SetError("the browser is still busy after " + std::to_string(options_.stepTimeoutMs) + " ms");
    return false;
}

std::string Session::LastError() const {
    ScopedLock hold(internals_->treeLock);
    return internals_->lastError;
}

int Session::Open(const std::string& url, const std::string& name) {
    NewWindowRequest request;
    request.url = Widen(url);
    request.name = Widen(name);
    TopWindow* window = internals_->CreateTopWindow(request);
    if (!window) return 0;
    if (!WaitIdle()) return 0;
    return window->number();
}

namespace {

// Runs work on the context's window thread and waits for the browser to be
// idle again; work returns false with an error when it could not act.
bool RunInContext(Session& session, const std::string& context,
                  const std::function<bool(TopWindow*, BrowsingContext*, std::string*)>& work) {
    Session::Internals& internals = session.internals();
    int number = 0;
    std::string path;
    if (!SplitContext(context, &number, &path)) {
        internals.SetError("\"" + context + "\" names no window (w1, w1/frame, ...)");
        return false;
    }
    TopWindow* window = internals.FindWindow(number);
    if (!window || !window->IsOpen()) {
        internals.SetError("window w" + std::to_string(number) + " is not open");
        return false;
    }
    auto result = std::make_shared<std::pair<bool, std::string>>(false, std::string());
    const bool posted = window->Post([window, path, result, work, context]() {
        BrowsingContext* target = nullptr;
        {
            ScopedLock hold(window->session().internals().treeLock);
            target = window->FindContext(path);
        }
        if (!target) {
            result->second = "no frame \"" + path + "\" in " + context.substr(0, context.find('/'));
            return;
        }
        result->first = work(window, target, &result->second);
    });
    if (!posted) {
        internals.SetError("window w" + std::to_string(number) + " is closing");
        return false;
    }
    if (!session.WaitIdle()) return false;
    if (!result->first) internals.SetError(result->second.empty() ? "failed" : result->second);
    return result->first;
}

}  // namespace

bool Session::Load(const std::string& context, const std::string& url, FrameLoad frames) {
    const std::wstring address = Widen(url);
    return RunInContext(*this, context, [address, frames](TopWindow* window, BrowsingContext* target, std::string*) {
        window->NavigateAction(target, address, nullptr, frames);
        return true;
    });
}

bool Session::Click(const std::string& context, const ElementSelector& element, Modifiers modifiers) {
    int number = 0;
    std::string path;
    if (modifiers.Any() && SplitContext(context, &number, &path)) {
        if (modifiers.ctrl && !Key(number, VK_CONTROL, true)) return false;
        if (modifiers.shift && !Key(number, VK_SHIFT, true)) return false;
    }
    const bool clicked =
        RunInContext(*this, context, [element, modifiers](TopWindow* window, BrowsingContext* target, std::string* error) {
            return window->ClickAction(target, element, modifiers, error);
        });
    // The keys come up again after the click and what followed it, in
    // whichever window is still there to take them.
    if (modifiers.Any()) {
        auto release = [&](UINT key) {
            TopWindow* window = internals_->FindWindow(number);
            int target = window && window->IsOpen() ? number : 0;
            if (!target) {
                for (const WindowInfo& info : Windows())
                    if (info.open) target = info.number;
            }
            if (target) Key(target, key, false);
        };
        if (modifiers.shift) release(VK_SHIFT);
        if (modifiers.ctrl) release(VK_CONTROL);
    }
    return clicked;
}

bool Session::ScriptOpen(const std::string& context, const std::string& url, const std::string& name,
                         bool holdNavigation, ScriptCall call) {
    const std::wstring address = Widen(url);
    const std::wstring windowName = Widen(name);
    return RunInContext(*this, context,
                        [address, windowName, holdNavigation, call](TopWindow* window, BrowsingContext* target,
                                                                    std::string*) {
                            window->ScriptOpenAction(target, address, windowName, holdNavigation, call);
                            return true;
                        });
}

bool Session::AddElement(const std::string& context, const ElementSelector& element, const std::string& url,
                         const std::string& target) {
    return RunInContext(*this, context, [element, url, target](TopWindow* window, BrowsingContext* where,
                                                               std::string* error) {
        return window->AddElementAction(where, element, url, target, error);
    });
}

bool Session::StartNavigation(int number) {
    return RunInContext(*this, "w" + std::to_string(number),
                        [](TopWindow* window, BrowsingContext*, std::string* error) {
                            return window->StartHeldNavigation(error);
                        });
}

bool Session::CompleteFrame(const std::string& context) {
    return RunInContext(*this, context, [](TopWindow* window, BrowsingContext* target, std::string* error) {
        return window->CompleteAction(target, error);
    });
}

bool Session::Close(int number) {
    TopWindow* window = internals_->FindWindow(number);
    if (!window || !window->IsOpen()) {
        internals_->SetError("window w" + std::to_string(number) + " is not open");
        return false;
    }
    window->RequestClose("closed by the user");
    return WaitIdle();
}

bool Session::CloseAll() {
    std::vector<TopWindow*> open;
    {
        ScopedLock hold(internals_->treeLock);
        for (auto& window : internals_->windows)
            if (window->IsOpen()) open.push_back(window.get());
    }
    // One after another, so the timeline reads the same on every run.
    bool idle = true;
    for (TopWindow* window : open) {
        window->RequestClose("closed by the user");
        idle = WaitIdle() && idle;
    }
    return idle;
}

bool Session::Key(int number, UINT virtualKey, bool down) {
    TopWindow* window = internals_->FindWindow(number);
    if (!window || !window->IsOpen()) {
        internals_->SetError("window w" + std::to_string(number) + " is not open");
        return false;
    }
    long before = 0;
    {
        std::lock_guard<std::mutex> hold(internals_->keyLock);
        before = internals_->keyMessages[virtualKey & 0xFF][down ? 1 : 0];
    }
    if (!window->Post([window, virtualKey, down]() { window->FocusAndSendKey(virtualKey, down); })) {
        internals_->SetError("window w" + std::to_string(number) + " is closing");
        return false;
    }
    bool taken = false;
    {
        std::unique_lock<std::mutex> hold(internals_->keyLock);
        taken = internals_->keyTaken.wait_for(hold, std::chrono::milliseconds(options_.stepTimeoutMs), [&] {
            return internals_->keyMessages[virtualKey & 0xFF][down ? 1 : 0] > before;
        });
    }
    TimelineEntry entry;
    entry.kind = TimelineKind::Key;
    entry.window = number;
    char name[32];
    snprintf(name, sizeof name, "vk 0x%02X %s", virtualKey & 0xFF, down ? "down" : "up");
    entry.detail = std::string(name) + (taken ? "" : ", never reached a window");
    timeline_.Add(entry);
    if (!WaitIdle()) return false;
    if (!taken) internals_->SetError("the key message reached none of the session's windows");
    return taken;
}

bool Session::Fire(const std::string& context, DISPID dispid, const std::vector<RawArg>& args, bool noParams) {
    return RunInContext(*this, context, [dispid, args, noParams](TopWindow* window, BrowsingContext* target, std::string*) {
        window->FireAction(target, dispid, args, noParams);
        return true;
    });
}

void Session::Wait(DWORD milliseconds) {
    Sleep(milliseconds);
    WaitIdle();
}

bool Session::RunOn(const std::string& context, const std::function<void(IWebBrowser2*)>& work) {
    return RunInContext(*this, context, [work](TopWindow*, BrowsingContext* target, std::string*) {
        work(target->browser()->Interface());
        return true;
    });
}

int Session::OpenWindowCount() const {
    int count = 0;
    for (const WindowInfo& info : Windows())
        if (info.open) ++count;
    return count;
}

std::vector<WindowInfo> Session::Windows() const {
    std::vector<TopWindow*> windows;
    {
        ScopedLock hold(internals_->treeLock);
        for (auto& window : internals_->windows) windows.push_back(window.get());
    }
    std::vector<WindowInfo> infos;
    for (TopWindow* window : windows) infos.push_back(window->Info());
    return infos;
}

std::vector<FrameInfo> Session::Frames() const {
    std::vector<FrameInfo> infos;
    {
        ScopedLock hold(internals_->treeLock);
        for (auto& frame : internals_->frames) {
            FrameInfo info;
            info.number = frame->number;
            info.hwnd = frame->hwnd;
            info.open = frame->open;
            for (TopWindow* tab : frame->tabs) info.tabs.push_back(tab->number());
            if (!frame->shown.empty()) info.active = frame->shown.back()->number();
            infos.push_back(info);
        }
    }
    // Asked of the host's thread or process, outside the lock.
    for (FrameInfo& info : infos) {
        if (!internals_->frameHost || !info.hwnd) continue;
        info.processId = internals_->frameHost->ProcessId();
        const LRESULT state = internals_->frameHost->State(info.hwnd);
        info.exists = (state & kFrameExists) && (state & kFrameVisible);
        info.hiddenExternally = (state & kFrameHiddenOutside) != 0;
        info.destroyedExternally = (state & kFrameDestroyedOutside) != 0;
    }
    return infos;
}

WindowInfo Session::Window(int number) const {
    TopWindow* window = internals_->FindWindow(number);
    return window ? window->Info() : WindowInfo();
}

std::string Session::ContextUrl(const std::string& context) const {
    int number = 0;
    std::string path;
    if (!SplitContext(context, &number, &path)) return std::string();
    TopWindow* window = internals_->FindWindow(number);
    if (!window) return std::string();
    ScopedLock hold(internals_->treeLock);
    BrowsingContext* found = window->FindContext(path);
    return found ? Narrow(found->url) : std::string();
}

std::shared_ptr<Document> Session::DocumentOf(const std::string& context) const {
    int number = 0;
    std::string path;
    if (!SplitContext(context, &number, &path)) return nullptr;
    TopWindow* window = internals_->FindWindow(number);
    if (!window) return nullptr;
    ScopedLock hold(internals_->treeLock);
    BrowsingContext* found = window->FindContext(path);
    return found && found->document ? found->document->Dom() : nullptr;
}

}  // namespace standin
