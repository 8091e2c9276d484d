#include "objects.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bstr_tracker.h"
#include "mshtml_stubs.h"
#include "serialize.h"
#include "text.h"
#include "url.h"

namespace standin::detail {

class ElementObject;

namespace {

template <typename F>
HRESULT Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

BSTR Bstr(std::wstring_view text) { return NewBstr(text.data(), text.size()); }
// An empty text comes back as NULL, as MSHTML answers for unset strings.
BSTR BstrOrNull(std::wstring_view text) { return text.empty() ? nullptr : Bstr(text); }

std::wstring FromBstr(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

std::string BstrLogText(BSTR text) {
    return text ? WideToAnsi(text, SysStringLen(text)) : std::string("(null)");
}

const char* TypeName(VARTYPE type) {
    switch (type) {
        case VT_EMPTY: return "VT_EMPTY";
        case VT_NULL: return "VT_NULL";
        case VT_I2: return "VT_I2";
        case VT_I4: return "VT_I4";
        case VT_R4: return "VT_R4";
        case VT_R8: return "VT_R8";
        case VT_BSTR: return "VT_BSTR";
        case VT_DISPATCH: return "VT_DISPATCH";
        case VT_BOOL: return "VT_BOOL";
        case VT_UNKNOWN: return "VT_UNKNOWN";
        case VT_I1: return "VT_I1";
        case VT_UI1: return "VT_UI1";
        case VT_UI2: return "VT_UI2";
        case VT_UI4: return "VT_UI4";
        case VT_INT: return "VT_INT";
        case VT_UINT: return "VT_UINT";
        default: return nullptr;
    }
}

// "VT_BSTR(null)", "VT_BSTR(468)", "VT_I4(0)", "VT_NULL".
std::string VariantLogText(const VARIANT& value) {
    const char* name = TypeName(V_VT(&value));
    std::string text = name ? name : "VT_" + std::to_string(V_VT(&value));
    switch (V_VT(&value)) {
        case VT_EMPTY:
        case VT_NULL:
            return text;
        case VT_BSTR:
            return text + "(" + (V_BSTR(&value) ? BstrLogText(V_BSTR(&value)) : "null") + ")";
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return text + (V_UNKNOWN(&value) ? "" : "(null)");
        default:
            break;
    }
    VARIANT converted;
    VariantInit(&converted);
    if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BSTR))) {
        text += "(" + BstrLogText(V_BSTR(&converted)) + ")";
        VariantClear(&converted);
    }
    return text;
}

// The text a VARIANT sets a string attribute to; false when it has none.
bool VariantToText(const VARIANT& value, std::wstring& text) {
    switch (V_VT(&value)) {
        case VT_EMPTY:
        case VT_NULL:
            text.clear();
            return true;
        case VT_BSTR:
            text = FromBstr(V_BSTR(&value));
            return true;
        default:
            break;
    }
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BSTR))) return false;
    text = FromBstr(V_BSTR(&converted));
    VariantClear(&converted);
    return true;
}

bool Matches(const ElementRef& ref, const Node& node) {
    if (!ref.tag.empty() && ref.tag != node.tag) return false;
    return ref.index < 0 || ref.index == node.tagIndex;
}

bool PropertyFails(const std::vector<Failures::Property>& list, const Node& node,
                   const char* property) {
    for (const Failures::Property& failure : list)
        if (failure.property == property && Matches(failure.element, node)) return true;
    return false;
}

bool NamedIn(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& entry : names)
        if (entry.empty() || entry == name) return true;
    return false;
}

// A leading decimal number of pixels ("468", " 60px"); false for anything
// else, percentages included.
bool PixelValue(std::wstring_view text, long& value) {
    size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    const size_t digits = i;
    long result = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
        if (result < 10000000) result = result * 10 + (text[i] - L'0');
        ++i;
    }
    if (i == digits) return false;
    if (i < text.size() && text[i] == L'%') return false;
    value = result;
    return true;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && UpperAscii(a) == UpperAscii(b);
}

HRESULT NewCollection(const std::shared_ptr<Tree>& tree, std::string name, const NodeList* items,
                      NodeList owned, REFIID iid, void** out);
HRESULT GetElementObject(const std::shared_ptr<Tree>& tree, Node* node, REFIID iid, void** out);
HRESULT NewStyle(const std::shared_ptr<Tree>& tree, Node* node, REFIID iid, void** out);

// The caller holds the tree's lock. property is a literal.
void LogWrite(Tree& tree, const Node& node, const char* property, std::string_view value, VARTYPE type) {
    tree.writes.emplace_back(&node, property, value, type);
}

// Reference counting shared by the objects: every reference taken and
// given back is counted for the document and the process.
class RefCount {
public:
    explicit RefCount(std::shared_ptr<Tree> tree) : tree_(std::move(tree)) { CountObject(*tree_, 1); }
    ~RefCount() { CountObject(*tree_, -1); }
    RefCount(const RefCount&) = delete;
    RefCount& operator=(const RefCount&) = delete;

    ULONG Add() {
        CountRef(*tree_, 1);
        return static_cast<ULONG>(InterlockedIncrement(&count_));
    }
    // Takes a reference unless the object is already on its way out.
    bool TryAdd() {
        for (;;) {
            const LONG count = InterlockedCompareExchange(&count_, 0, 0);
            if (count <= 0) return false;
            if (InterlockedCompareExchange(&count_, count + 1, count) == count) {
                CountRef(*tree_, 1);
                return true;
            }
        }
    }
    LONG Remove() {
        CountRef(*tree_, -1);
        return InterlockedDecrement(&count_);
    }
    const std::shared_ptr<Tree>& tree() const { return tree_; }

private:
    std::shared_ptr<Tree> tree_;
    LONG count_ = 0;
};

}  // namespace

// --- Style -----------------------------------------------------------------

class StyleObject final : public stubs::IHTMLStyleStub {
public:
    StyleObject(std::shared_ptr<Tree> tree, Node* node) : ref_(std::move(tree)), node_(node) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IHTMLStyle) return E_NOINTERFACE;
        *out = static_cast<IHTMLStyle*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ref_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = ref_.Remove();
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE put_visibility(BSTR value) override {
        return Guarded([&] {
            Tree& tree = *ref_.tree();
            if (PropertyFails(tree.options.failures.writeFail, *node_, "visibility")) return E_FAIL;
            korvane::ScopedLock hold(tree.lock);
            node_->visibilityWritten = true;
            node_->visibility = FromBstr(value);
            LogWrite(tree, *node_, "visibility", BstrLogText(value), VT_BSTR);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_visibility(BSTR* value) override {
        return Guarded([&] {
            if (!value) return E_POINTER;
            *value = nullptr;
            if (PropertyFails(ref_.tree()->options.failures.readFail, *node_, "visibility")) return E_FAIL;
            *value = BstrOrNull(node_->visibilityWritten ? std::wstring(node_->visibility) : InlineVisibility());
            return S_OK;
        });
    }

private:
    ~StyleObject() = default;

    // "visibility: hidden" in the element's style attribute.
    std::wstring InlineVisibility() const {
        const Attribute* style = node_->Find("style");
        if (!style) return std::wstring();
        const std::wstring text = UpperAscii(style->value);
        const size_t at = text.find(L"VISIBILITY");
        if (at == std::wstring::npos) return std::wstring();
        size_t colon = text.find(L':', at);
        if (colon == std::wstring::npos) return std::wstring();
        size_t end = text.find(L';', colon);
        if (end == std::wstring::npos) end = text.size();
        return CollapseSpace(style->value.substr(colon + 1, end - colon - 1));
    }

    RefCount ref_;
    Node* node_;
};

// --- Element ---------------------------------------------------------------

class ElementObject final : public stubs::IHTMLElementStub,
                            public stubs::IHTMLBodyElementStub,
                            public stubs::IHTMLFrameSetElementStub,
                            public stubs::IHTMLBaseElementStub,
                            public stubs::IHTMLAnchorElementStub,
                            public stubs::IHTMLAreaElementStub,
                            public stubs::IHTMLFormElementStub,
                            public stubs::IHTMLImgElementStub,
                            public stubs::IHTMLObjectElementStub,
                            public stubs::IHTMLEmbedElementStub {
public:
    ElementObject(std::shared_ptr<Tree> tree, Node* node) : ref_(std::move(tree)), node_(node) {
        node_->wrapper = this;
    }

    // IUnknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        void* face = Interface(iid);
        if (!face) return E_NOINTERFACE;
        if (iid != IID_IUnknown) {
            for (const Failures::Interface& missing : ref_.tree()->options.failures.missingInterfaces)
                if (missing.iid == iid && Matches(missing.element, *node_)) return E_NOINTERFACE;
        }
        AddRef();
        *out = face;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ref_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = ref_.Remove();
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
    bool TryAddRef() { return ref_.TryAdd(); }

    // IDispatch: the product calls the interfaces directly.

    // IHTMLElement.
    HRESULT STDMETHODCALLTYPE get_tagName(BSTR* p) override {
        return ReadString(p, "tagName", [&] {
            return Bstr(node_->tag == "!" ? L"!" : UpperAscii(AnsiToWide(node_->tag)));
        });
    }
    HRESULT STDMETHODCALLTYPE get_id(BSTR* p) override { return ReadAttribute(p, "id"); }
    HRESULT STDMETHODCALLTYPE get_className(BSTR* p) override { return ReadAttribute(p, "class"); }
    HRESULT STDMETHODCALLTYPE get_title(BSTR* p) override { return ReadAttribute(p, "title"); }
    HRESULT STDMETHODCALLTYPE put_title(BSTR v) override { return WriteAttribute("title", v); }
    HRESULT STDMETHODCALLTYPE get_innerHTML(BSTR* p) override {
        return ReadString(p, "innerHTML", [&] { return BstrOrNull(InnerHtml(*node_)); });
    }
    HRESULT STDMETHODCALLTYPE get_outerHTML(BSTR* p) override {
        return ReadString(p, "outerHTML", [&] { return BstrOrNull(OuterHtml(*node_)); });
    }
    HRESULT STDMETHODCALLTYPE get_innerText(BSTR* p) override {
        return ReadString(p, "innerText", [&] { return BstrOrNull(InnerText(*node_)); });
    }
    HRESULT STDMETHODCALLTYPE getAttribute(BSTR name, LONG, VARIANT* value) override {
        return Guarded([&] {
            if (!value) return E_POINTER;
            VariantInit(value);
            V_VT(value) = VT_NULL;
            const std::string key = LowerAscii(WideToAnsi(FromBstr(name)));
            if (ReadFails(key.c_str())) return E_FAIL;
            const Attribute* attribute = node_->Find(key.c_str());
            if (!attribute) return S_OK;
            V_BSTR(value) = Bstr(attribute->value);
            V_VT(value) = VT_BSTR;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_style(IHTMLStyle** p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            if (ReadFails("style")) return E_FAIL;
            return NewStyle(ref_.tree(), node_, IID_IHTMLStyle, reinterpret_cast<void**>(p));
        });
    }
    HRESULT STDMETHODCALLTYPE get_parentElement(IHTMLElement** p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            Node* parent = node_->parent;
            if (!parent || parent->kind != NodeKind::Element) return S_OK;
            return GetElementObject(ref_.tree(), parent, IID_IHTMLElement, reinterpret_cast<void**>(p));
        });
    }
    HRESULT STDMETHODCALLTYPE get_document(IDispatch** p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            return GetDocumentObject(ref_.tree(), IID_IDispatch, reinterpret_cast<void**>(p));
        });
    }
    HRESULT STDMETHODCALLTYPE get_sourceIndex(LONG* p) override {
        if (!p) return E_POINTER;
        *p = node_->allIndex;
        return S_OK;
    }

    // IHTMLBodyElement, IHTMLFrameSetElement.
    HRESULT STDMETHODCALLTYPE put_onunload(VARIANT v) override {
        return Guarded([&] {
            if (WriteFails("onunload")) return E_FAIL;
            korvane::ScopedLock hold(tree().lock);
            EventProperty& handler = node_->onunload;
            handler.written = true;
            handler.type = V_VT(&v);
            handler.nullText = V_VT(&v) == VT_BSTR && !V_BSTR(&v);
            handler.text = V_VT(&v) == VT_BSTR ? FromBstr(V_BSTR(&v)) : std::wstring();
            LogWrite(*ref_.tree(), *node_, "onunload", VariantLogText(v), V_VT(&v));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_onunload(VARIANT* p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            VariantInit(p);
            V_VT(p) = VT_NULL;
            if (ReadFails("onunload")) return E_FAIL;
            const EventProperty& handler = node_->onunload;
            if (handler.written) {
                if (handler.type != VT_BSTR) return S_OK;
                V_BSTR(p) = handler.nullText ? nullptr : Bstr(handler.text);
                V_VT(p) = VT_BSTR;
                return S_OK;
            }
            const Attribute* attribute = node_->Find("onunload");
            if (!attribute) return S_OK;
            V_BSTR(p) = Bstr(attribute->value);
            V_VT(p) = VT_BSTR;
            return S_OK;
        });
    }

    // Targets: IHTMLBaseElement, IHTMLAnchorElement, IHTMLAreaElement,
    // IHTMLFormElement.
    HRESULT STDMETHODCALLTYPE get_target(BSTR* p) override { return ReadAttribute(p, "target"); }
    HRESULT STDMETHODCALLTYPE put_target(BSTR v) override { return WriteAttribute("target", v); }
    HRESULT STDMETHODCALLTYPE get_href(BSTR* p) override {
        return ReadString(p, "href", [&] { return Bstr(Address("href")); });
    }
    HRESULT STDMETHODCALLTYPE get_name(BSTR* p) override { return ReadAttribute(p, "name"); }
    HRESULT STDMETHODCALLTYPE get_action(BSTR* p) override {
        return ReadString(p, "action", [&] {
            const Attribute* action = node_->Find("action");
            const bool none = !action || CollapseSpace(action->value).empty();
            return Bstr(none ? ref_.tree()->urlWide : Address("action"));
        });
    }

    // IHTMLImgElement (src also for IHTMLEmbedElement).
    HRESULT STDMETHODCALLTYPE get_src(BSTR* p) override {
        return ReadString(p, "src", [&] { return Bstr(Address("src")); });
    }
    HRESULT STDMETHODCALLTYPE get_alt(BSTR* p) override { return ReadAttribute(p, "alt"); }
    HRESULT STDMETHODCALLTYPE put_alt(BSTR v) override { return WriteAttribute("alt", v); }
    HRESULT STDMETHODCALLTYPE get_width(LONG* p) override { return ReadImageSize(p, "width"); }
    HRESULT STDMETHODCALLTYPE get_height(LONG* p) override { return ReadImageSize(p, "height"); }
    HRESULT STDMETHODCALLTYPE put_width(LONG v) override { return WriteImageSize("width", v); }
    HRESULT STDMETHODCALLTYPE put_height(LONG v) override { return WriteImageSize("height", v); }

    // IHTMLObjectElement, IHTMLEmbedElement.
    HRESULT STDMETHODCALLTYPE get_width(VARIANT* p) override { return ReadPluginSize(p, "width"); }
    HRESULT STDMETHODCALLTYPE get_height(VARIANT* p) override { return ReadPluginSize(p, "height"); }
    HRESULT STDMETHODCALLTYPE put_width(VARIANT v) override { return WritePluginSize("width", v); }
    HRESULT STDMETHODCALLTYPE put_height(VARIANT v) override { return WritePluginSize("height", v); }

private:
    ~ElementObject() {
        korvane::ScopedLock hold(ref_.tree()->lock);
        if (node_->wrapper == this) node_->wrapper = nullptr;
    }

    void* Interface(REFIID iid) {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IHTMLElement)
            return static_cast<IHTMLElement*>(this);
        const std::string& tag = node_->tag;
        if (iid == IID_IHTMLBodyElement && tag == "body") return static_cast<IHTMLBodyElement*>(this);
        if (iid == IID_IHTMLFrameSetElement && tag == "frameset")
            return static_cast<IHTMLFrameSetElement*>(this);
        if (iid == IID_IHTMLBaseElement && tag == "base") return static_cast<IHTMLBaseElement*>(this);
        if (iid == IID_IHTMLAnchorElement && tag == "a") return static_cast<IHTMLAnchorElement*>(this);
        if (iid == IID_IHTMLAreaElement && tag == "area") return static_cast<IHTMLAreaElement*>(this);
        if (iid == IID_IHTMLFormElement && tag == "form") return static_cast<IHTMLFormElement*>(this);
        if (iid == IID_IHTMLImgElement && tag == "img") return static_cast<IHTMLImgElement*>(this);
        if (iid == IID_IHTMLObjectElement && tag == "object")
            return static_cast<IHTMLObjectElement*>(this);
        if (iid == IID_IHTMLEmbedElement && tag == "embed") return static_cast<IHTMLEmbedElement*>(this);
        return nullptr;
    }

    Tree& tree() { return *ref_.tree(); }
    // Every getter of an element asks this first, so reads are logged here.
    bool ReadFails(const char* property) {
        Tree& tree = this->tree();
        if (tree.options.logReads) {
            korvane::ScopedLock hold(tree.lock);
            tree.reads.emplace_back(node_->tag + "#" + std::to_string(node_->tagIndex) + " " + property);
        }
        return PropertyFails(tree.options.failures.readFail, *node_, property);
    }
    bool WriteFails(const char* property) {
        return PropertyFails(tree().options.failures.writeFail, *node_, property);
    }

    template <typename Make>
    HRESULT ReadString(BSTR* p, const char* property, Make make) {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            if (ReadFails(property)) return E_FAIL;
            *p = make();
            return S_OK;
        });
    }
    HRESULT ReadAttribute(BSTR* p, const char* name) {
        return ReadString(p, name, [&] {
            const Attribute* attribute = node_->Find(name);
            return attribute ? BstrOrNull(attribute->value) : nullptr;
        });
    }
    HRESULT WriteAttribute(const char* name, BSTR value) {
        return Guarded([&] {
            if (WriteFails(name)) return E_FAIL;
            korvane::ScopedLock hold(tree().lock);
            node_->Set(name, FromBstr(value));
            LogWrite(tree(), *node_, name, BstrLogText(value), VT_BSTR);
            return S_OK;
        });
    }

    // An address attribute made absolute; empty when the element has none.
    std::wstring Address(const char* name) const {
        const Attribute* attribute = node_->Find(name);
        if (!attribute) return std::wstring();
        return ResolveUrl(ref_.tree()->baseUrl, attribute->value);
    }

    HRESULT ReadImageSize(LONG* p, const char* name) {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = 0;
            if (ReadFails(name)) return E_FAIL;
            *p = ImageSize(name);
            return S_OK;
        });
    }
    long ImageSize(const char* name) const {
        const bool width = name[0] == 'w';
        long value = 0;
        const Attribute* attribute = node_->Find(name);
        if (attribute && PixelValue(attribute->value, value)) return value;
        korvane::ScopedLock hold(ref_.tree()->lock);
        const DomOptions& options = ref_.tree()->options;
        const Attribute* id = node_->Find("id");
        const Attribute* src = node_->Find("src");
        const std::string idText = id ? WideToAnsi(id->value) : std::string();
        const std::string srcText = src ? WideToAnsi(src->value) : std::string();
        for (const standin::ImageSize& size : options.imageSizes) {
            const bool byId = !size.match.empty() && size.match[0] == '#';
            const bool hit = byId ? (id && size.match.compare(1, std::string::npos, idText) == 0)
                                  : (src && srcText.find(size.match) != std::string::npos);
            if (hit) return width ? size.width : size.height;
        }
        return width ? options.defaultImageWidth : options.defaultImageHeight;
    }
    HRESULT WriteImageSize(const char* name, LONG value) {
        return Guarded([&] {
            if (WriteFails(name)) return E_FAIL;
            korvane::ScopedLock hold(tree().lock);
            node_->Set(name, std::to_wstring(value));
            LogWrite(tree(), *node_, name, std::to_string(value), VT_I4);
            return S_OK;
        });
    }

    HRESULT ReadPluginSize(VARIANT* p, const char* name) {
        return Guarded([&] {
            if (!p) return E_POINTER;
            VariantInit(p);
            if (ReadFails(name)) return E_FAIL;
            const Attribute* attribute = node_->Find(name);
            V_BSTR(p) = attribute ? Bstr(attribute->value) : Bstr(std::wstring_view());
            V_VT(p) = VT_BSTR;
            return S_OK;
        });
    }
    HRESULT WritePluginSize(const char* name, const VARIANT& value) {
        return Guarded([&] {
            if (WriteFails(name)) return E_FAIL;
            std::wstring text;
            if (!VariantToText(value, text)) return DISP_E_TYPEMISMATCH;
            korvane::ScopedLock hold(tree().lock);
            node_->Set(name, text);
            LogWrite(tree(), *node_, name, VariantLogText(value), V_VT(&value));
            return S_OK;
        });
    }

    RefCount ref_;
    Node* node_;
};

// --- Collection ------------------------------------------------------------

class CollectionObject final : public stubs::IHTMLElementCollectionStub {
public:
    // items is borrowed from the tree, or null for a collection that owns
    // its list.
    CollectionObject(std::shared_ptr<Tree> tree, std::string name, const NodeList* items,
                     NodeList owned)
        : ref_(std::move(tree)), name_(std::move(name)), owned_(std::move(owned)),
          items_(items ? items : &owned_) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IHTMLElementCollection)
            return E_NOINTERFACE;
        *out = static_cast<IHTMLElementCollection*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ref_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = ref_.Remove();
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE get_length(LONG* p) override {
        if (!p) return E_POINTER;
        *p = 0;
        if (NamedIn(failures().lengthFail, name_)) return E_FAIL;
        *p = static_cast<LONG>(items_->size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE item(VARIANT name, VARIANT index, IDispatch** p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            switch (V_VT(&name)) {
                case VT_I4:
                case VT_INT:
                    return ItemAt(V_I4(&name), p);
                case VT_I2:
                    return ItemAt(V_I2(&name), p);
                case VT_UI4:
                case VT_UINT:
                    return ItemAt(V_UI4(&name) > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<long>(V_UI4(&name)), p);
                case VT_BSTR:
                    return ItemNamed(FromBstr(V_BSTR(&name)), index, p);
                default:
                    return E_NOTIMPL;
            }
        });
    }

    HRESULT STDMETHODCALLTYPE tags(VARIANT tagName, IDispatch** p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            if (V_VT(&tagName) != VT_BSTR) return DISP_E_MEMBERNOTFOUND;
            const std::string tag = LowerAscii(WideToAnsi(FromBstr(V_BSTR(&tagName))));
            if (NamedIn(failures().tagsFail, tag)) return E_FAIL;
            if (NamedIn(failures().tagsNull, tag)) return S_OK;
            Tree& tree = *ref_.tree();
            if (items_ == &tree.all)
                return NewCollection(ref_.tree(), tag, &tree.ElementsOf(tag), {}, IID_IDispatch,
                                     reinterpret_cast<void**>(p));
            NodeList matching;
            for (Node* node : *items_)
                if (node->tag == tag) matching.push_back(node);
            return NewCollection(ref_.tree(), tag, nullptr, std::move(matching), IID_IDispatch,
                                 reinterpret_cast<void**>(p));
        });
    }

private:
    ~CollectionObject() = default;

    const Failures& failures() const { return ref_.tree()->options.failures; }

    HRESULT ItemAt(long index, IDispatch** p) {
        for (const Failures::Item& failure : failures().itemFail)
            if ((failure.collection.empty() || failure.collection == name_) &&
                (failure.index < 0 || failure.index == index))
                return E_FAIL;
        if (index < 0) return E_INVALIDARG;
        if (static_cast<size_t>(index) >= items_->size()) return S_OK;
        return GetElementObject(ref_.tree(), (*items_)[static_cast<size_t>(index)], IID_IDispatch,
                                reinterpret_cast<void**>(p));
    }

    // By id or name: one element, or a collection of all that carry it;
    // with an index, the element at that place among them.
    HRESULT ItemNamed(const std::wstring& key, const VARIANT& index, IDispatch** p) {
        NodeList named;
        for (Node* node : *items_) {
            const Attribute* id = node->Find("id");
            const Attribute* name = node->Find("name");
            if ((id && EqualsIgnoreCase(id->value, key)) || (name && EqualsIgnoreCase(name->value, key)))
                named.push_back(node);
        }
        if (V_VT(&index) == VT_I4) {
            const long at = V_I4(&index);
            if (at < 0) return E_INVALIDARG;
            if (static_cast<size_t>(at) >= named.size()) return S_OK;
            return GetElementObject(ref_.tree(), named[static_cast<size_t>(at)], IID_IDispatch,
                                    reinterpret_cast<void**>(p));
        }
        if (named.empty()) return S_OK;
        if (named.size() == 1)
            return GetElementObject(ref_.tree(), named[0], IID_IDispatch, reinterpret_cast<void**>(p));
        return NewCollection(ref_.tree(), name_, nullptr, std::move(named), IID_IDispatch,
                             reinterpret_cast<void**>(p));
    }

    RefCount ref_;
    std::string name_;  // the tag name it was made for; "*" for the all collection
    NodeList owned_;  // in the process's heap: it goes with the collection
    const NodeList* items_;
};

// --- Document --------------------------------------------------------------

class DocumentObject final : public stubs::IHTMLDocument2Stub {
public:
    explicit DocumentObject(std::shared_ptr<Tree> tree) : ref_(std::move(tree)) {
        ref_.tree()->documentWrapper = this;
    }
    bool TryAddRef() { return ref_.TryAdd(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IHTMLDocument &&
            iid != IID_IHTMLDocument2)
            return E_NOINTERFACE;
        *out = static_cast<IHTMLDocument2*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ref_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = ref_.Remove();
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE get_all(IHTMLElementCollection** p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            const Failures& failures = ref_.tree()->options.failures;
            if (FAILED(failures.allResult)) return failures.allResult;
            if (failures.allNull) return S_OK;
            return NewCollection(ref_.tree(), "*", &ref_.tree()->all, {}, IID_IHTMLElementCollection,
                                 reinterpret_cast<void**>(p));
        });
    }
    HRESULT STDMETHODCALLTYPE get_body(IHTMLElement** p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            Node* body = ref_.tree()->body;
            if (!body) return S_OK;
            return GetElementObject(ref_.tree(), body, IID_IHTMLElement, reinterpret_cast<void**>(p));
        });
    }
    HRESULT STDMETHODCALLTYPE get_images(IHTMLElementCollection** p) override {
        return TagCollection(p, "img");
    }
    HRESULT STDMETHODCALLTYPE get_forms(IHTMLElementCollection** p) override {
        return TagCollection(p, "form");
    }
    HRESULT STDMETHODCALLTYPE get_URL(BSTR* p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = Bstr(ref_.tree()->urlWide);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_title(BSTR* p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            const NodeList& titles = ref_.tree()->ElementsOf("title");
            if (!titles.empty()) *p = Bstr(CollapseSpace(InnerText(*titles[0])));
            if (!*p) *p = Bstr(std::wstring());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_readyState(BSTR* p) override {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = Bstr(L"complete");
            return S_OK;
        });
    }

private:
    ~DocumentObject() {
        korvane::ScopedLock hold(ref_.tree()->lock);
        if (ref_.tree()->documentWrapper == this) ref_.tree()->documentWrapper = nullptr;
    }

    HRESULT TagCollection(IHTMLElementCollection** p, const char* tag) {
        return Guarded([&] {
            if (!p) return E_POINTER;
            *p = nullptr;
            return NewCollection(ref_.tree(), tag, &ref_.tree()->ElementsOf(tag), {},
                                 IID_IHTMLElementCollection, reinterpret_cast<void**>(p));
        });
    }

    RefCount ref_;
};

// --- Factories -------------------------------------------------------------

namespace {

// Hands out a new object's interface; the object dies if it has none.
template <typename Object>
HRESULT Handout(Object* object, REFIID iid, void** out) {
    object->AddRef();
    const HRESULT result = object->QueryInterface(iid, out);
    object->Release();
    return result;
}

HRESULT NewCollection(const std::shared_ptr<Tree>& tree, std::string name, const NodeList* items,
                      NodeList owned, REFIID iid, void** out) {
    return Handout(new CollectionObject(tree, std::move(name), items, std::move(owned)), iid, out);
}

// The live object of an element or the document is handed out again, so
// the element keeps one identity; one whose last reference is being given
// back on another thread is replaced by a new one.
template <typename Object>
HRESULT Reuse(Object* live, REFIID iid, void** out) {
    const HRESULT result = live->QueryInterface(iid, out);
    live->Release();
    return result;
}

HRESULT GetElementObject(const std::shared_ptr<Tree>& tree, Node* node, REFIID iid, void** out) {
    korvane::ScopedLock hold(tree->lock);
    if (node->wrapper && node->wrapper->TryAddRef()) return Reuse(node->wrapper, iid, out);
    return Handout(new ElementObject(tree, node), iid, out);
}

HRESULT NewStyle(const std::shared_ptr<Tree>& tree, Node* node, REFIID iid, void** out) {
    return Handout(new StyleObject(tree, node), iid, out);
}

}  // namespace

HRESULT GetDocumentObject(const std::shared_ptr<Tree>& tree, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Guarded([&] {
        korvane::ScopedLock hold(tree->lock);
        if (tree->documentWrapper && tree->documentWrapper->TryAddRef())
            return Reuse(tree->documentWrapper, iid, out);
        return Handout(new DocumentObject(tree), iid, out);
    });
}

}  // namespace standin::detail
