// The DWebBrowserEvents2 connection point of a browser object, and the two
// enumerators the connection interfaces hand out.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "base/com.h"
#include "base/lock.h"
#include "browser/live_references.h"

namespace standin {

class TrackedObject;

// What a sink answered when it was advised: the event interface itself, or
// only IDispatch (which the browser accepts as well).
enum class SinkInterface { Events, DispatchOnly };

struct SinkCall {
    DWORD cookie = 0;
    HRESULT result = S_OK;
};

// Lives inside its container (a browser object) and dies with it; every
// reference handed out on it holds the container, as the browser's own
// connection points do.
class EventConnectionPoint final : public IConnectionPoint {
public:
    EventConnectionPoint(IConnectionPointContainer* container, TrackedObject* owner);
    ~EventConnectionPoint();
    EventConnectionPoint(const EventConnectionPoint&) = delete;
    EventConnectionPoint& operator=(const EventConnectionPoint&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    // Calls Invoke on every advised sink, in cookie order, the way the
    // browser does: IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD and no
    // result, exception or argument-error pointer. A sink unadvised by an
    // earlier sink's handler during the same event is skipped.
    std::vector<SinkCall> Fire(DISPID dispid, DISPPARAMS* params);

    // Releases every sink still advised (the window is closing); returns how
    // many there were.
    int DropAll();
    int SinkCount() const;
    // How the most recent successful Advise was accepted.
    SinkInterface LastAdviseInterface() const { return lastInterface_; }
    long ExternalReferences() const noexcept { return external_; }

private:
    struct Slot {
        IDispatch* sink = nullptr;  // owned
    };

    IConnectionPointContainer* const container_;  // the outer object, not owned
    TrackedObject* const owner_;
    volatile LONG external_ = 0;
    mutable korvane::CriticalSection lock_;
    std::vector<Slot> slots_;  // cookie = index + 1
    SinkInterface lastInterface_ = SinkInterface::Events;
};

// IEnumConnectionPoints over a fixed list, each entry referenced.
HRESULT CreateConnectionPointEnumerator(const std::vector<IConnectionPoint*>& points, ULONG position,
                                        IEnumConnectionPoints** result);

}  // namespace standin
