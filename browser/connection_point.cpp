#include "browser/connection_point.h"

#include <exdisp.h>
#include <olectl.h>

#include <new>

namespace standin {

using korvane::ComPtr;
using korvane::ScopedLock;

namespace {

// What each kind of enumerated item holds a reference on.
IUnknown* Referenced(const CONNECTDATA& item) { return item.pUnk; }
IUnknown* Referenced(IConnectionPoint* item) { return item; }

REFIID InterfaceId(IEnumConnections*) { return IID_IEnumConnections; }
REFIID InterfaceId(IEnumConnectionPoints*) { return IID_IEnumConnectionPoints; }

// IEnumConnections or IEnumConnectionPoints over a snapshot of the sinks or
// points, holding a reference on each item while it lives.
template <typename Interface, typename Item>
class SnapshotEnumerator final : public Interface, public TrackedObject {
public:
    SnapshotEnumerator(const std::vector<Item>& items, ULONG position)
        : TrackedObject(ObjectKind::Enumerator), items_(items), position_(position) {
        for (const Item& item : items_)
            if (IUnknown* object = Referenced(item)) object->AddRef();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != InterfaceId(static_cast<Interface*>(nullptr)))
            return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddExternal(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseExternal(); }

    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        while (given < count && position_ < items_.size()) {
            out[given] = items_[position_++];
            if (IUnknown* object = Referenced(out[given])) object->AddRef();
            ++given;
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        const size_t left = items_.size() - position_;
        if (count > left) {
            position_ = static_cast<ULONG>(items_.size());
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** copy) override { return Create(items_, position_, copy); }

    static HRESULT Create(const std::vector<Item>& items, ULONG position, Interface** result) {
        if (!result) return E_POINTER;
        *result = nullptr;
        try {
            auto* enumerator = new SnapshotEnumerator(items, position);
            enumerator->AddRef();
            *result = enumerator;
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    ~SnapshotEnumerator() override {
        for (const Item& item : items_)
            if (IUnknown* object = Referenced(item)) object->Release();
    }

    std::vector<Item> items_;
    ULONG position_;
};

using ConnectionEnumerator = SnapshotEnumerator<IEnumConnections, CONNECTDATA>;
using PointEnumerator = SnapshotEnumerator<IEnumConnectionPoints, IConnectionPoint*>;

}  // namespace

HRESULT CreateConnectionPointEnumerator(const std::vector<IConnectionPoint*>& points, ULONG position,
                                        IEnumConnectionPoints** result) {
    return PointEnumerator::Create(points, position, result);
}

EventConnectionPoint::EventConnectionPoint(IConnectionPointContainer* container, TrackedObject* owner)
    : container_(container), owner_(owner) {}

EventConnectionPoint::~EventConnectionPoint() { DropAll(); }

STDMETHODIMP EventConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) EventConnectionPoint::AddRef() {
    owner_->Pin();
    CountReference(ObjectKind::ConnectionPoint, 1);
    return static_cast<ULONG>(InterlockedIncrement(&external_));
}

STDMETHODIMP_(ULONG) EventConnectionPoint::Release() {
    LONG remaining = 0;
    if (!DecrementIfPositive(&external_, &remaining)) {
        CountOverRelease();
        return 0;
    }
    CountReference(ObjectKind::ConnectionPoint, -1);
    owner_->Unpin();  // may free the owner, and this object with it
    return static_cast<ULONG>(remaining);
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = DIID_DWebBrowserEvents2;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    try {
        if (!cookie) return E_POINTER;
        *cookie = 0;
        if (!sink) return E_POINTER;
        // The browser asks for the event interface first and settles for
        // IDispatch: a sink that implements DWebBrowserEvents2 only through
        // IDispatch::Invoke is served the same events.
        IDispatch* dispatch = nullptr;
        SinkInterface answered = SinkInterface::Events;
        if (FAILED(sink->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(&dispatch))) ||
            !dispatch) {
            dispatch = nullptr;
            answered = SinkInterface::DispatchOnly;
            if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) ||
                !dispatch)
                return CONNECT_E_CANNOTCONNECT;
        }
        ScopedLock hold(lock_);
        size_t index = 0;
        while (index < slots_.size() && slots_[index].sink) ++index;
        if (index == slots_.size()) {
            try {
                slots_.push_back(Slot());
            } catch (...) {
                dispatch->Release();
                return E_OUTOFMEMORY;
            }
        }
        slots_[index].sink = dispatch;
        lastInterface_ = answered;
        *cookie = static_cast<DWORD>(index + 1);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie) {
    IDispatch* sink = nullptr;
    {
        ScopedLock hold(lock_);
        if (cookie == 0 || cookie > slots_.size() || !slots_[cookie - 1].sink)
            return CONNECT_E_NOCONNECTION;
        sink = slots_[cookie - 1].sink;
        slots_[cookie - 1].sink = nullptr;
    }
    sink->Release();
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    try {
        std::vector<CONNECTDATA> items;
        {
            ScopedLock hold(lock_);
            for (size_t i = 0; i < slots_.size(); ++i) {
                if (!slots_[i].sink) continue;
                CONNECTDATA data;
                data.pUnk = slots_[i].sink;
                data.dwCookie = static_cast<DWORD>(i + 1);
                items.push_back(data);
            }
        }
        return ConnectionEnumerator::Create(items, 0, connections);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

std::vector<SinkCall> EventConnectionPoint::Fire(DISPID dispid, DISPPARAMS* params) {
    struct Pending {
        DWORD cookie;
        ComPtr<IDispatch> sink;
    };
    std::vector<Pending> pending;
    {
        ScopedLock hold(lock_);
        for (size_t i = 0; i < slots_.size(); ++i)
            if (slots_[i].sink) pending.push_back({static_cast<DWORD>(i + 1), slots_[i].sink});
    }
    std::vector<SinkCall> calls;
    for (Pending& entry : pending) {
        {
            ScopedLock hold(lock_);
            const size_t index = entry.cookie - 1;
            if (index >= slots_.size() || slots_[index].sink != entry.sink.Get()) continue;
        }
        SinkCall call;
        call.cookie = entry.cookie;
        call.result = entry.sink->Invoke(dispid, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD,
                                         params, nullptr, nullptr, nullptr);
        calls.push_back(call);
    }
    return calls;
}

int EventConnectionPoint::DropAll() {
    std::vector<IDispatch*> sinks;
    {
        ScopedLock hold(lock_);
        for (Slot& slot : slots_) {
            if (slot.sink) sinks.push_back(slot.sink);
            slot.sink = nullptr;
        }
    }
    for (IDispatch* sink : sinks) sink->Release();
    return static_cast<int>(sinks.size());
}

int EventConnectionPoint::SinkCount() const {
    ScopedLock hold(lock_);
    int count = 0;
    for (const Slot& slot : slots_)
        if (slot.sink) ++count;
    return count;
}

}  // namespace standin
