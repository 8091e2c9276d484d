#include "browser/timeline.h"

#include "browser/event_args.h"
#include "browser/text_conversion.h"

namespace standin {

using korvane::ScopedLock;

const char* TimelineKindName(TimelineKind kind) {
    switch (kind) {
    case TimelineKind::Step: return "step";
    case TimelineKind::WindowOpened: return "window opened";
    case TimelineKind::HelperCreated: return "helper created";
    case TimelineKind::SiteSet: return "SetSite";
    case TimelineKind::Event: return "event";
    case TimelineKind::NavigationCancelled: return "navigation cancelled";
    case TimelineKind::NewWindowCancelled: return "new window cancelled";
    case TimelineKind::DocumentLoaded: return "document loaded";
    case TimelineKind::PageMissing: return "page missing";
    case TimelineKind::BrowserCall: return "browser call";
    case TimelineKind::WindowDestroyed: return "window destroyed";
    case TimelineKind::WindowClosed: return "window closed";
    case TimelineKind::SinksLeft: return "sinks left";
    case TimelineKind::Key: return "key";
    case TimelineKind::Expectation: return "expect";
    case TimelineKind::Note: return "note";
    }
    return "?";
}

std::string TimelineEntry::Text() const {
    std::string where = context.empty() ? (window ? "w" + std::to_string(window) : std::string("--")) : context;
    std::string text = "[" + where + "] ";
    switch (kind) {
    case TimelineKind::Step:
        return "> " + detail;
    case TimelineKind::Event:
        text += EventName(dispid);
        if (!url.empty()) text += " url=" + url;
        if (dispid == 250) text += " target=" + (target.empty() ? std::string("(none)") : "\"" + target + "\"");
        if (!detail.empty()) text += "  {" + detail + "}";
        return text;
    case TimelineKind::Expectation:
        return std::string(passed ? "  ok: expect " : "  FAILED: expect ") + detail;
    case TimelineKind::HelperCreated:
    case TimelineKind::SiteSet:
    case TimelineKind::BrowserCall:
        text += TimelineKindName(kind);
        text += " " + detail + " -> " + HresultText(hr);
        return text;
    default:
        break;
    }
    text += TimelineKindName(kind);
    if (!url.empty()) text += " " + url;
    if (!target.empty()) text += " name=\"" + target + "\"";
    if (!detail.empty()) text += " (" + detail + ")";
    return text;
}

size_t Timeline::Add(TimelineEntry entry) {
    if (!entry.thread) entry.thread = GetCurrentThreadId();
    ScopedLock hold(lock_);
    if (echo_) {
        fprintf(echo_, "%s\n", entry.Text().c_str());
        fflush(echo_);
    }
    entries_.push_back(std::move(entry));
    return entries_.size() - 1;
}

void Timeline::MarkCancelled(size_t index) {
    ScopedLock hold(lock_);
    if (index < entries_.size()) entries_[index].cancelled = true;
}

std::vector<TimelineEntry> Timeline::Entries() const {
    ScopedLock hold(lock_);
    return entries_;
}

size_t Timeline::Size() const {
    ScopedLock hold(lock_);
    return entries_.size();
}

std::string Timeline::Text() const {
    ScopedLock hold(lock_);
    std::string text;
    for (const TimelineEntry& entry : entries_) text += entry.Text() + "\n";
    return text;
}

void Timeline::Echo(FILE* out) {
    ScopedLock hold(lock_);
    echo_ = out;
}

}  // namespace standin
