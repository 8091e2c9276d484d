// The record of what happened in a session, as structured entries that
// tests can inspect and as readable text.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/lock.h"

namespace standin {

enum class TimelineKind {
    Step,                // a session step begins: detail holds its line
    WindowOpened,        // target = the window's name ("" for a window the user opened)
    HelperCreated,       // detail = CLSID; hr = CoCreateInstance's result
    SiteSet,             // detail = CLSID and "browser"/"NULL"; hr = SetSite's result
    Event,               // dispid, context, url, target, cancelled; detail = argument summary
    NavigationCancelled, // a BeforeNavigate2 came back with Cancel set
    NewWindowCancelled,  // a NewWindow2 came back with Cancel set
    DocumentLoaded,      // context now shows url
    PageMissing,         // no page file for url: an empty document is shown
    BrowserCall,         // a helper called a browser method: detail = method
    WindowDestroyed,     // the frame window was destroyed by someone else than the stand-in
    WindowClosed,        // the window is gone and its objects released
    SinksLeft,           // sinks still advised when the window closed (the browser keeps them)
    Key,                 // a key went down or up: detail = key and direction
    Expectation,         // passed says whether it held; detail = the expectation
    Note,
};

struct TimelineEntry {
    TimelineKind kind = TimelineKind::Note;
    int window = 0;          // 1-based window number, 0 when none
    std::string context;     // "w2", or "w2/main" for a frame
    DISPID dispid = 0;       // Event
    std::string url;
    std::string target;      // TargetFrameName of BeforeNavigate2, a window's name
    std::string detail;
    HRESULT hr = S_OK;
    bool hasCancel = false;  // Event: the arguments held a Cancel flag
    bool cancelled = false;  // Event: Cancel came back set
    bool passed = true;      // Expectation
    DWORD thread = 0;        // the thread it happened on
    // HelperCreated, SiteSet: how long CoCreateInstance or SetSite took, in
    // milliseconds. Their sum is how the browser times an add-on's load.
    double milliseconds = 0;

    std::string Text() const;
};

class Timeline {
public:
    Timeline() = default;
    Timeline(const Timeline&) = delete;
    Timeline& operator=(const Timeline&) = delete;

    // Returns the entry's index.
    size_t Add(TimelineEntry entry);
    // An event's Cancel flag came back set: known only after the sinks
    // ran, when the event's line has been written already.
    void MarkCancelled(size_t index);
    std::vector<TimelineEntry> Entries() const;
    size_t Size() const;
    std::string Text() const;
    // Each entry is also written to out as it is added (null: none).
    void Echo(FILE* out);

private:
    mutable korvane::CriticalSection lock_;
    std::vector<TimelineEntry> entries_;
    FILE* echo_ = nullptr;
};

const char* TimelineKindName(TimelineKind kind);

}  // namespace standin
