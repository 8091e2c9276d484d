#include "browser/live_references.h"

#include "browser/dom/dom.h"

namespace standin {
namespace {

volatile LONG referenceCounts[kObjectKinds] = {};
volatile LONG liveObjects = 0;
volatile LONG overReleases = 0;

int Index(ObjectKind kind) { return static_cast<int>(kind); }

}  // namespace

LiveReferences CurrentLiveReferences() {
    LiveReferences counts;
    counts.browsers = referenceCounts[Index(ObjectKind::Browser)];
    counts.connectionPoints = referenceCounts[Index(ObjectKind::ConnectionPoint)];
    counts.enumerators = referenceCounts[Index(ObjectKind::Enumerator)];
    counts.sites = referenceCounts[Index(ObjectKind::Site)];
    counts.documentReferences = LiveDomRefs();
    counts.documentBstrs = LiveBstrs();
    counts.objects = liveObjects;
    counts.overReleases = overReleases;
    return counts;
}

void CountReference(ObjectKind kind, long delta) noexcept {
    InterlockedExchangeAdd(&referenceCounts[Index(kind)], delta);
}

void CountOverRelease() noexcept { InterlockedIncrement(&overReleases); }

bool DecrementIfPositive(volatile LONG* count, LONG* remaining) noexcept {
    LONG current = *count;
    for (;;) {
        if (current <= 0) return false;
        const LONG seen = InterlockedCompareExchange(count, current - 1, current);
        if (seen == current) break;
        current = seen;
    }
    if (remaining) *remaining = current - 1;
    return true;
}

TrackedObject::TrackedObject(ObjectKind kind) noexcept : kind_(kind) {
    InterlockedIncrement(&liveObjects);
}

TrackedObject::~TrackedObject() { InterlockedDecrement(&liveObjects); }

void TrackedObject::Pin() noexcept { InterlockedIncrement(&holds_); }

void TrackedObject::Unpin() noexcept { DropOne(); }

ULONG TrackedObject::AddExternal() noexcept {
    InterlockedIncrement(&holds_);
    InterlockedIncrement(&referenceCounts[Index(kind_)]);
    return static_cast<ULONG>(InterlockedIncrement(&external_));
}

ULONG TrackedObject::ReleaseExternal() noexcept {
    // A Release without a matching AddRef is the caller's fault; counting
    // below zero would free an object the stand-in still uses, so it is
    // refused (the real browser would crash or corrupt memory instead).
    LONG remaining = 0;
    if (!DecrementIfPositive(&external_, &remaining)) {
        CountOverRelease();
        return 0;
    }
    InterlockedDecrement(&referenceCounts[Index(kind_)]);
    DropOne();
    return static_cast<ULONG>(remaining);
}

void TrackedObject::DropOne() noexcept {
    if (InterlockedDecrement(&holds_) == 0) delete this;
}

}  // namespace standin
