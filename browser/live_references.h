// Counts of the references that code outside the stand-in holds on the
// stand-in's own COM objects. Wine answers 0 to GetGuiResources and friends,
// so a helper object's leaks are shown by counting here instead: after a
// session whose windows are all closed, every count is back to zero unless a
// helper kept something.
#pragma once

#include <windows.h>

namespace standin {

enum class ObjectKind {
    Browser,          // the browser object of a window or a frame
    ConnectionPoint,  // the DWebBrowserEvents2 connection point of one of them
    Enumerator,       // IEnumConnections / IEnumConnectionPoints handed out
    Site,             // the plain IUnknown site of "a site that is not a browser"
};
constexpr int kObjectKinds = 4;

struct LiveReferences {
    long browsers = 0;
    long connectionPoints = 0;
    long enumerators = 0;
    long sites = 0;
    long documentReferences = 0;  // references held on the documents' objects (browser/dom)
    long documentBstrs = -1;      // BSTRs the documents handed out and nobody freed; -1: not counted
    long objects = 0;  // stand-in objects not yet freed, whatever holds them
    // Release calls beyond the references handed out: refused, and counted
    // here so that a helper's over-release shows instead of crashing.
    long overReleases = 0;
    long Total() const { return browsers + connectionPoints + enumerators + sites + documentReferences; }
};

// Process-wide: every session's objects together.
LiveReferences CurrentLiveReferences();

// Ends the leak of windows that closed with sinks still advised (which the
// browser keeps, and the reference counts show): releases those sinks and
// lets the browser objects go. Returns how many sinks there were. For test
// programs, once the leak is recorded and no window runs any more; the
// sinks are released on the calling thread.
int ReleaseLeakedSinks();

// For objects that keep their own count (the connection point lives inside
// its browser object): records references given out and taken back.
void CountReference(ObjectKind kind, long delta) noexcept;
void CountOverRelease() noexcept;

// Decrements count unless it is already zero; false when it was.
bool DecrementIfPositive(volatile LONG* count, LONG* remaining) noexcept;

// Base of the stand-in's COM objects. An object is freed when no outside
// reference (AddRef/Release) and no pin (the stand-in's own hold) is left, so
// a helper that keeps a browser after its window closed still talks to a
// valid object, only one that is no longer attached to a window.
class TrackedObject {
public:
    TrackedObject(const TrackedObject&) = delete;
    TrackedObject& operator=(const TrackedObject&) = delete;

    void Pin() noexcept;
    void Unpin() noexcept;
    // References held outside the stand-in right now.
    long ExternalReferences() const noexcept { return external_; }

protected:
    explicit TrackedObject(ObjectKind kind) noexcept;
    virtual ~TrackedObject();

    ULONG AddExternal() noexcept;
    ULONG ReleaseExternal() noexcept;

private:
    void DropOne() noexcept;

    const ObjectKind kind_;
    volatile LONG external_ = 0;
    volatile LONG holds_ = 0;  // external references plus pins
};

}  // namespace standin
