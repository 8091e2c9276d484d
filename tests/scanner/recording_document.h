// A document that passes the scan's collection calls through to a real one
// and writes each down with the exact VARIANTs it was given, so a test can
// see the calls as the browser would receive them.
#pragma once

#include <windows.h>
#include <mshtml.h>

#include <string>
#include <vector>

#include "base/com.h"
#include "scanner_stubs.h"

namespace korvane::test {

// Objects live on the test's stack or are counted here; References() shows
// whether the scan gave back what it took.
class CallLog {
public:
    std::vector<std::string> calls;
    LONG references = 0;
};

inline std::string VariantText(const VARIANT& value) {
    switch (V_VT(&value)) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_I4: return "VT_I4(" + std::to_string(V_I4(&value)) + ")";
    case VT_BSTR: {
        if (!V_BSTR(&value)) return "VT_BSTR(null)";
        std::string text;
        for (const wchar_t* c = V_BSTR(&value); *c; ++c) text += static_cast<char>(*c);
        return "VT_BSTR(" + text + ")";
    }
    default: return "VT(" + std::to_string(V_VT(&value)) + ")";
    }
}

// Reference counting shared by the two recorders: a heap object that ends
// with its last reference, each reference also counted in the log.
template <typename Base>
class Recorder : public Base {
public:
    explicit Recorder(CallLog& log) : log_(log) {}
    virtual ~Recorder() = default;

    STDMETHODIMP_(ULONG) AddRef() override {
        ++log_.references;
        return static_cast<ULONG>(++count_);
    }
    STDMETHODIMP_(ULONG) Release() override {
        --log_.references;
        const LONG left = --count_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    template <typename Interface>
    HRESULT Answer(REFIID iid, void** out, REFIID own) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != own) return E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }

    CallLog& log_;

private:
    LONG count_ = 0;
};

class RecordingCollection : public Recorder<standin::stubs::IHTMLElementCollectionStub> {
public:
    RecordingCollection(CallLog& log, ComPtr<IHTMLElementCollection> inner)
        : Recorder(log), inner_(std::move(inner)) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return Answer<IHTMLElementCollection>(iid, out, IID_IHTMLElementCollection);
    }
    STDMETHODIMP get_length(LONG* length) override {
        log_.calls.push_back("get_length");
        return inner_->get_length(length);
    }
    STDMETHODIMP item(VARIANT name, VARIANT index, IDispatch** element) override {
        log_.calls.push_back("item(" + VariantText(name) + ", " + VariantText(index) + ")");
        return inner_->item(name, index, element);
    }
    STDMETHODIMP tags(VARIANT tagName, IDispatch** collection) override {
        log_.calls.push_back("tags(" + VariantText(tagName) + ")");
        if (!collection) return E_POINTER;
        *collection = nullptr;
        ComPtr<IDispatch> found;
        const HRESULT result = inner_->tags(tagName, &found);
        ComPtr<IHTMLElementCollection> elements;
        if (found) found.As(&elements);
        if (elements) {
            ComPtr<IHTMLElementCollection> recorder = new RecordingCollection(log_, elements);
            *collection = recorder.Detach();
        }
        return result;
    }

private:
    ComPtr<IHTMLElementCollection> inner_;
};

class RecordingDocument : public Recorder<standin::stubs::IHTMLDocument2Stub> {
public:
    RecordingDocument(CallLog& log, ComPtr<IHTMLDocument2> inner)
        : Recorder(log), inner_(std::move(inner)) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return Answer<IHTMLDocument2>(iid, out, IID_IHTMLDocument2);
    }
    STDMETHODIMP get_all(IHTMLElementCollection** all) override {
        log_.calls.push_back("get_all");
        if (!all) return E_POINTER;
        *all = nullptr;
        ComPtr<IHTMLElementCollection> elements;
        const HRESULT result = inner_->get_all(&elements);
        if (elements) {
            ComPtr<IHTMLElementCollection> recorder = new RecordingCollection(log_, elements);
            *all = recorder.Detach();
        }
        return result;
    }

private:
    ComPtr<IHTMLDocument2> inner_;
};

}  // namespace korvane::test
