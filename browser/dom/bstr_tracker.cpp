#include "bstr_tracker.h"

#include <objbase.h>

#include <atomic>
#include <climits>
#include <new>
#include <unordered_set>

#include "base/lock.h"

namespace standin::detail {
namespace {

// Set on the thread that is making a counted BSTR, for the spy to claim
// the one allocation that follows.
thread_local bool claimNextAllocation = false;
thread_local bool claimed = false;
// Set between PreRealloc and PostRealloc of a counted block.
thread_local bool reallocatingCounted = false;

class Spy final : public IMallocSpy {
public:
    // IUnknown: a static object, never deleted.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *out = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override { return request; }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
        if (!claimNextAllocation || !actual) return actual;
        claimNextAllocation = false;
        claimed = true;
        Record(actual);
        return actual;
    }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
        if (request) Forget(request);
        return request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest,
                                        BOOL) override {
        *newRequest = request;
        reallocatingCounted = request && Forget(request);
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override {
        if (reallocatingCounted && actual) Record(actual);
        reallocatingCounted = false;
        return actual;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

    long Count() {
        korvane::ScopedLock hold(lock_);
        return static_cast<long>(live_.size());
    }

private:
    void Record(void* block) {
        try {
            korvane::ScopedLock hold(lock_);
            live_.insert(block);
        } catch (...) {
            // Memory is short: the string simply goes uncounted.
        }
    }
    bool Forget(void* block) {
        korvane::ScopedLock hold(lock_);
        return live_.erase(block) != 0;
    }

    korvane::CriticalSection lock_;
    std::unordered_set<void*> live_;
};

Spy& TheSpy() {
    static Spy* spy = new Spy;  // lives as long as the process: COM keeps using it
    return *spy;
}

// Turns the cache off and registers the spy, once for the process.
bool Register() {
    using SetOaNoCacheFunction = void(WINAPI*)();
    HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
    auto setNoCache = reinterpret_cast<SetOaNoCacheFunction>(
        reinterpret_cast<void*>(oleaut ? GetProcAddress(oleaut, "SetOaNoCache") : nullptr));
    if (!setNoCache) return false;
    setNoCache();
    if (FAILED(CoRegisterMallocSpy(&TheSpy()))) return false;
    // Wine's allocator looks a block up in its list of spied ones before
    // the first spied allocation has made that list, and crashes: a free
    // on another thread at that moment would. One allocation makes it now.
    CoTaskMemFree(CoTaskMemAlloc(1));
    return true;
}

std::atomic<bool> untrustworthy{false};
std::atomic<bool> disabled{false};

bool Active() {
    static const bool registered = !disabled.load() && Register();
    return registered && !untrustworthy.load();
}

}  // namespace

BSTR NewBstr(const wchar_t* text, size_t length) {
    if (length > static_cast<size_t>(INT_MAX / 2)) throw std::bad_alloc();
    const bool counting = Active();
    claimNextAllocation = counting;
    claimed = false;
    BSTR result = SysAllocStringLen(text, static_cast<UINT>(length));
    claimNextAllocation = false;
    if (!result) throw std::bad_alloc();
    // The string did not come from CoTaskMemAlloc (someone turned a cache
    // back on): the count can no longer be trusted.
    if (counting && !claimed) untrustworthy.store(true);
    return result;
}

long LiveBstrCount() { return Active() ? TheSpy().Count() : -1; }

bool BstrTrackerActive() { return Active(); }

void DisableBstrTracker() { disabled.store(true); }

}  // namespace standin::detail
