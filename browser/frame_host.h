// The top-level frame windows ("IEFrame"). In the IE6 profile every window
// is its own frame, made by its own thread. From IE7 on a frame holds tabs
// and is made elsewhere: IE7 makes it on a thread of its own, IE8 in a
// process of its own (the loosely coupled frame). Here both are made by a
// host that korvane_frame_host.exe runs in a process of its own: under Wine
// 8, a frame made by one thread whose child windows belong to other threads
// of the same process can leave the X11 driver's lock held when the frame
// goes, after which every window call of the process blocks (browser/README,
// "Wine"). The session asks the host for frames through messages sent to
// the host's control window.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace standin {

// What a frame window tells whoever owns it.
class FrameWindowOwner {
public:
    // WM_CLOSE (the close box, or someone's PostMessage).
    virtual void OnFrameClose() {}
    // WM_DESTROY; outside: nobody asked the owner to destroy it.
    virtual void OnFrameGone(bool outside) = 0;
    // The window was hidden (ShowWindow, SetWindowPos) by someone else than
    // the owner.
    virtual void OnFrameHidden() {}

    // Set by the owner around its own ShowWindow and DestroyWindow calls.
    bool ownChange = false;

protected:
    ~FrameWindowOwner() = default;
};

// A top-level window of class "IEFrame" without a caption (under Wine
// without a window manager, destroying a captioned window waits two seconds
// for the X server), shown without activation. Made on the calling thread.
HWND CreateFrameWindow(int number, FrameWindowOwner* owner);

// A tab's own window, of class "TabWindowClass": a child of frame (made on
// the calling thread, whichever thread or process owns frame), hidden until
// shown.
HWND CreateTabWindow(HWND frame, int number, FrameWindowOwner* owner);

// Bits of FrameHost::State's answer.
constexpr LRESULT kFrameExists = 0x1;
constexpr LRESULT kFrameVisible = 0x2;
constexpr LRESULT kFrameHiddenOutside = 0x4;
constexpr LRESULT kFrameDestroyedOutside = 0x8;

// Runs a host on the calling thread until it is told to quit or, when
// parent is not null, until that process ends (korvane_frame_host.exe). ready is called with the
// control window once it exists (null when it could not be made).
int RunFrameHost(HANDLE parent, const std::function<void(HWND control)>& ready);

// The session's side of a host.
class FrameHost {
public:
    // Starts korvane_frame_host.exe, found beside the running program. Null
    // with *error on failure.
    static std::unique_ptr<FrameHost> Start(std::string* error);
    // Tells the host to quit and waits for it.
    ~FrameHost();
    FrameHost(const FrameHost&) = delete;
    FrameHost& operator=(const FrameHost&) = delete;

    // A new frame, numbered for its title; null on failure.
    HWND CreateFrame(int number);
    void DestroyFrame(HWND frame);
    // kFrame* bits; 0 for a frame the host never made.
    LRESULT State(HWND frame);
    DWORD ProcessId() const { return processId_; }

private:
    FrameHost() = default;

    HWND control_ = nullptr;
    HANDLE waitable_ = nullptr;  // the host's process
    DWORD processId_ = 0;
};

}  // namespace standin
