#include "scanner/page_scanner.h"

#include <mshtml.h>

#include <cstdint>
#include <cwchar>
#include <new>
#include <vector>

#include "base/ansi_string.h"
#include "base/com.h"
#include "scanner/banner_rules.h"
#include "scanner/target_rules.h"
#include "state/shared_state.h"
#include "state/string_ring.h"

namespace korvane {
namespace {

// --- Strings as the rules read them ------------------------------------------

// The ANSI form of count UTF-16 characters into out (room for size bytes);
// the number of bytes written, or 0 when they do not fit or cannot be
// converted. Text in ASCII, most of a page, is the same in every ANSI code
// page and is narrowed without asking the system.
size_t ConvertPiece(const wchar_t* text, size_t count, char* out, size_t size) {
    size_t i = 0;
    if (count <= size) {
        while (i < count && text[i] < 0x80) {
            out[i] = static_cast<char>(text[i]);
            ++i;
        }
        if (i == count) return count;
    }
    const int written = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(count), out,
                                            static_cast<int>(size), nullptr, nullptr);
    return written > 0 ? static_cast<size_t>(written) : 0;
}

// A short string of the document (an address, a target, a size) in the
// ANSI code page, as a C string. Short strings take no allocation; a longer
// one is converted on the heap and throws std::bad_alloc when memory runs
// out. A string that cannot be converted reads as empty.
class AnsiText {
public:
    AnsiText(const wchar_t* text, size_t length) {
        if (!text || length == 0) return;
        if (length <= sizeof small_ - 1) {
            const size_t written = ConvertPiece(text, length, small_, sizeof small_ - 1);
            if (written) {
                small_[written] = '\0';
                length_ = written;
                return;
            }
        }
        large_ = ToAnsi(text, length);
        text_ = large_.c_str();
        length_ = large_.length();
    }
    explicit AnsiText(BSTR text) : AnsiText(text, SysStringLen(text)) {}
    AnsiText(const AnsiText&) = delete;
    AnsiText& operator=(const AnsiText&) = delete;

    const char* c_str() const { return text_; }
    // Bytes converted, counting any past an embedded NUL.
    size_t length() const { return length_; }

private:
    char small_[256] = "";
    AnsiString large_;
    const char* text_ = small_;
    size_t length_ = 0;
};

// Feeds text in the ANSI code page to chain, piece by piece, until the
// chain has its answer. False when a piece cannot be converted.
bool FeedAnsi(const wchar_t* text, size_t length, MediaTagChain& chain) {
    constexpr size_t kPiece = 1024;
    // Room for the longest form of a piece in any ANSI code page.
    char out[kPiece * 4];
    while (length > 0 && !chain.Decided()) {
        size_t count = length < kPiece ? length : kPiece;
        // A surrogate pair is converted whole.
        if (count < length && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF) --count;
        const size_t written = ConvertPiece(text, count, out, sizeof out);
        if (!written) return false;
        chain.Feed(out, written);
        text += count;
        length -= count;
    }
    return true;
}

// --- The element loop ----------------------------------------------------------

// What a phase's work on one element tells the element loop.
enum class Next { Continue, StopScan };

struct Scan {
    IHTMLElementCollection* all;
    bool isTopLevel;
    bool inDocumentComplete;
    // Given to links, areas and forms without a target of their own.
    UniqueBstr defaultTarget;
    // "hidden", made for the first container hidden.
    UniqueBstr hidden;
    // The window and the page the names belong to, for as long as the page
    // is shown (KnownTargetNames).
    std::uintptr_t owner = 0;
    std::uintptr_t page = 0;
    // The page's own address, for a form without an action; read when one
    // needs it.
    IWebBrowser2* browser = nullptr;
    AnsiString pageUrl;
    bool pageUrlRead = false;
    // defaultTarget as a name that opens a new window: the elements that
    // receive it are kept with it.
    AnsiString defaultName;
};

// The phase's work on one element; element is the phase's interface.
using Work = Next (*)(Scan& scan, IUnknown* element);

UniqueBstr AllocBstr(const wchar_t* text) {
    UniqueBstr result(SysAllocString(text));
    if (!result) throw std::bad_alloc();
    return result;
}

UniqueBstr CopyBstr(BSTR text) {
    UniqueBstr result(SysAllocStringLen(text, SysStringLen(text)));
    if (!result) throw std::bad_alloc();
    return result;
}

// The browser reads a string value with a null pointer as "empty": it is how
// an unload handler or a plug-in's size is cleared.
VARIANT EmptyStringValue() {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = nullptr;
    return value;
}

// The elements of one tag name. *result receives the HRESULT of tags; the
// collection is null when there is none to walk.
ComPtr<IHTMLElementCollection> TagCollection(IHTMLElementCollection* all, const wchar_t* tag,
                                             HRESULT* result) {
    UniqueVariant name;
    V_VT(name.ptr()) = VT_BSTR;
    V_BSTR(name.ptr()) = SysAllocString(tag);
    if (!V_BSTR(name.ptr())) throw std::bad_alloc();

    ComPtr<IDispatch> dispatch;
    *result = all->tags(name.get(), dispatch.ReleaseAndGetAddressOf());
    ComPtr<IHTMLElementCollection> collection;
    if (dispatch) dispatch.As(&collection);
    return collection;
}


// Calls work for every element of the collection that answers iid, in
// document order, until work asks to stop.
Next ForEachElement(Scan& scan, IHTMLElementCollection* collection, long count, REFIID iid,
                    Work work) {
    for (long i = 0; i < count; ++i) {
        const ComPtr<IUnknown> element = ItemAs(collection, i, iid);
        if (element && work(scan, element.Get()) == Next::StopScan) return Next::StopScan;
    }
    return Next::Continue;
}

// --- Unload handlers ------------------------------------------------------

// A page's unload handler commonly opens a window as the user leaves; an
// empty handler takes its place.
template <typename Element>
Next ClearUnloadHandler(Scan&, IUnknown* element) {
    static_cast<Element*>(element)->put_onunload(EmptyStringValue());
    return Next::Continue;
}

// --- Banner ads -------------------------------------------------------------

Next TestImage(Scan&, IUnknown* element) {
    auto* image = static_cast<IHTMLImgElement*>(element);
    UniqueBstr source;
    if (FAILED(image->get_src(source.put()))) source.reset();
    const AnsiText address(source.get());
    // A size that cannot be read is no banner size; the address still counts.
    long width = 0;
    long height = 0;
    if (FAILED(image->get_width(&width))) width = 0;
    if (FAILED(image->get_height(&height))) height = 0;
    if (!IsBannerImage(address.c_str(), width, height)) return Next::Continue;

    image->put_width(0);
    image->put_height(0);
    image->put_alt(nullptr);
    return Next::Continue;
}

// The leading number of a size the page wrote as text; false when the size is
// not a string at all (missing, numeric, or already cleared).
bool ReadSizeText(const VARIANT& value, long* size) {
    if (V_VT(&value) != VT_BSTR || !V_BSTR(&value)) return false;
    *size = LeadingInteger(AnsiText(V_BSTR(&value)).c_str());
    return true;
}

// Reads a plug-in's width or height into *value, or clears it when value
// is null. One such function for each plug-in interface; the test is shared.
template <typename Plugin>
HRESULT PluginSize(IUnknown* element, bool height, VARIANT* value) {
    auto* plugin = static_cast<Plugin*>(element);
    if (!value) return height ? plugin->put_height(EmptyStringValue())
                              : plugin->put_width(EmptyStringValue());
    return height ? plugin->get_height(value) : plugin->get_width(value);
}

using PluginSizeAccess = HRESULT (*)(IUnknown* element, bool height, VARIANT* value);

Next TestPlugin(IUnknown* plugin, PluginSizeAccess size) {
    UniqueVariant widthValue;
    UniqueVariant heightValue;
    if (FAILED(size(plugin, false, widthValue.put()))) return Next::Continue;
    if (FAILED(size(plugin, true, heightValue.put()))) return Next::Continue;
    long width = 0;
    long height = 0;
    if (!ReadSizeText(widthValue.get(), &width)) return Next::Continue;
    if (!ReadSizeText(heightValue.get(), &height)) return Next::Continue;
    if (!MatchesBannerSize(width, height)) return Next::Continue;

    size(plugin, false, nullptr);
    size(plugin, true, nullptr);
    return Next::Continue;
}

Next TestObject(Scan&, IUnknown* element) {
    return TestPlugin(element, PluginSize<IHTMLObjectElement>);
}

Next TestEmbed(Scan&, IUnknown* element) {
    return TestPlugin(element, PluginSize<IHTMLEmbedElement>);
}

// Elements by their COM identity (IUnknown), each held by a reference so
// that no address can be taken by another object while the set lives.
class ElementSet {
public:
    ElementSet() = default;
    ElementSet(const ElementSet&) = delete;
    ElementSet& operator=(const ElementSet&) = delete;
    ~ElementSet() {
        for (IUnknown* element : slots_)
            if (element) element->Release();
    }

    bool Contains(IUnknown* element) const {
        return !slots_.empty() && slots_[Slot(slots_, element)] == element;
    }

    // False when element was there already.
    bool Add(IUnknown* element) {
        if (Contains(element)) return false;
        if ((count_ + 1) * 2 > slots_.size()) Grow();
        slots_[Slot(slots_, element)] = element;
        element->AddRef();
        ++count_;
        return true;
    }

private:
    // Where element is, or the free slot where it would go. slots has a
    // power-of-two size and at least one free slot.
    static size_t Slot(const std::vector<IUnknown*>& slots, IUnknown* element) {
        const size_t mask = slots.size() - 1;
        size_t slot = (reinterpret_cast<uintptr_t>(element) >> 3) * 2654435761u & mask;
        while (slots[slot] && slots[slot] != element) slot = (slot + 1) & mask;
        return slot;
    }

    void Grow() {
        std::vector<IUnknown*> larger(slots_.empty() ? 64 : slots_.size() * 2, nullptr);
        for (IUnknown* element : slots_)
            if (element) larger[Slot(larger, element)] = element;
        slots_.swap(larger);
    }

    std::vector<IUnknown*> slots_;
    size_t count_ = 0;
};

// Adds the elements that enclose element to set, from its parent up. The
// set holds every element above each one it holds, so the walk stops at
// the first one already there.
void AddEnclosing(ElementSet& set, IHTMLElement* element) {
    ComPtr<IHTMLElement> parent;
    if (FAILED(element->get_parentElement(parent.GetAddressOf()))) return;
    while (parent) {
        ComPtr<IUnknown> identity;
        if (FAILED(parent.As(&identity)) || !identity || !set.Add(identity.Get())) return;
        ComPtr<IHTMLElement> next;
        if (FAILED(parent->get_parentElement(next.GetAddressOf()))) return;
        parent = std::move(next);
    }
}

// The DIVs, innermost first: the markup of a DIV holds the markup of every
// DIV inside it, so a DIV that encloses one over kAdContainerMarkupLimit is
// over it too, and is left alone without its markup being read. (Read in
// document order, nested DIVs make the document serialise the square of
// their depth.) Every DIV's markup is read before any DIV is hidden, as it
// is in document order, where a DIV is read before the DIVs inside it;
// the DIVs judged to be advertisements are then hidden in document order.
void TestContainers(Scan& scan, IHTMLElementCollection* divisions, long count) {
    ElementSet overLimit;  // the elements that enclose a DIV over the limit
    std::vector<ComPtr<IHTMLStyle>> toHide;  // innermost first
    for (long i = count - 1; i >= 0; --i) {
        const ComPtr<IUnknown> item = ItemAs(divisions, i, IID_IHTMLElement);
        if (!item) continue;
        auto* division = static_cast<IHTMLElement*>(item.Get());
        ComPtr<IUnknown> identity;
        if (SUCCEEDED(division->QueryInterface(IID_IUnknown,
                                               reinterpret_cast<void**>(identity.GetAddressOf()))) &&
            identity && overLimit.Contains(identity.Get()))
            continue;
        ComPtr<IHTMLStyle> style;
        if (FAILED(division->get_style(style.GetAddressOf())) || !style) continue;
        UniqueBstr inner;
        if (FAILED(division->get_innerHTML(inner.put()))) inner.reset();
        if (inner.Length() > kAdContainerMarkupLimit) {
            AddEnclosing(overLimit, division);
            continue;
        }
        if (IsAdContainer(inner.get(), inner.Length())) toHide.push_back(std::move(style));
    }
    if (toHide.empty()) return;
    if (!scan.hidden) scan.hidden = AllocBstr(L"hidden");
    for (auto style = toHide.rbegin(); style != toHide.rend(); ++style)
        (*style)->put_visibility(scan.hidden.get());
}

// --- Targets ----------------------------------------------------------------

// Reads the element's target into *read, or writes write as its target when
// read is null. One such function for each element interface.
template <typename Element>
HRESULT TargetOf(IUnknown* element, BSTR* read, BSTR write) {
    auto* typed = static_cast<Element*>(element);
    return read ? typed->get_target(read) : typed->put_target(write);
}

using TargetAccess = HRESULT (*)(IUnknown* element, BSTR* read, BSTR write);

// The address an element points to, and whether it is a form's.
template <typename Element>
HRESULT HrefOf(IUnknown* element, BSTR* address) {
    return static_cast<Element*>(element)->get_href(address);
}
HRESULT ActionOf(IUnknown* element, BSTR* address) {
    return static_cast<IHTMLFormElement*>(element)->get_action(address);
}
using AddressAccess = HRESULT (*)(IUnknown* element, BSTR* address);

struct Addressed {
    TargetAccess target;
    AddressAccess address;  // null for a base element
    bool form;
};

// What KnownTargetNames keeps of the address the element points to. A
// form without an action sends to its own page. known: the address read
// already, if it was.
std::uint64_t AddressKey(Scan& scan, IUnknown* element, const Addressed& kind, const UniqueBstr* known) {
    if (!kind.address) return kNoAddress;
    UniqueBstr read;
    if (!known) {
        if (FAILED(kind.address(element, read.put()))) read.reset();
        known = &read;
    }
    const AnsiText address(known->get());
    if (!kind.form) return *address.c_str() ? LinkAddressKey(address.c_str()) : kNoAddress;
    if (*address.c_str()) return FormAddressKey(address.c_str());
    if (!scan.pageUrlRead) {
        scan.pageUrlRead = true;
        UniqueBstr location;
        if (scan.browser && SUCCEEDED(scan.browser->get_LocationURL(location.put())))
            scan.pageUrl = ToAnsi(location.get());
    }
    return scan.pageUrl.empty() ? kNoAddress : FormAddressKey(scan.pageUrl.c_str());
}

// Whether a name of the scan's making for target could be kept in
// KnownTargetNames. One that could not is never written: the element keeps
// the page's own target, and the window it opens is judged like any other.
bool RewrittenNameFits(const AnsiText& target) {
    return target.length() + kRewrittenTargetPrefixLength <= kLongestRingEntry;
}

// A target that would open a new window gets a name the popup filter knows,
// kept with the address of the element. Links, areas and forms without a
// target get the page's default one (and are kept with it, when it opens a
// new window). A base element's target, as it stands after this, becomes
// the default.
//
// A failed read counts as no target. "No target" is tested on the C string
// of the ANSI form, as every other test on target names reads it: a target
// that begins with a NUL character counts as none.
Next ApplyTarget(Scan& scan, IUnknown* element, const Addressed& kind, const UniqueBstr* address = nullptr) {
    const bool base = !kind.address;
    UniqueBstr original;
    if (FAILED(kind.target(element, original.put(), nullptr))) original.reset();
    const AnsiText name(original.get());
    if (!*name.c_str()) {
        if (base) return Next::Continue;
        kind.target(element, nullptr, scan.defaultTarget.get());
        if (!scan.defaultName.empty())
            TheKnownTargetNames().Add(scan.owner, scan.page, scan.defaultName.c_str(),
                                      AddressKey(scan, element, kind, address));
        return Next::Continue;
    }

    switch (ClassifyTarget(name.c_str(), scan.isTopLevel)) {
    case TargetDecision::StopScan:
        return Next::StopScan;
    case TargetDecision::Rewrite: {
        if (!RewrittenNameFits(name)) break;
        AnsiString rewritten = MakeRewrittenTarget(name.c_str());
        UniqueBstr value(ToBstr(rewritten.c_str()));
        kind.target(element, nullptr, value.get());
        const std::uint64_t key = AddressKey(scan, element, kind, address);
        TheKnownTargetNames().Add(scan.owner, scan.page, rewritten.c_str(), key);
        if (base) {
            scan.defaultTarget = std::move(value);
            scan.defaultName = std::move(rewritten);
        }
        return Next::Continue;
    }
    case TargetDecision::Keep: {
        // A reserved name never opens a new window: no address is kept for it.
        const bool opens = OpensNewWindow(name.c_str());
        TheKnownTargetNames().Add(scan.owner, scan.page, name.c_str(),
                                  opens ? AddressKey(scan, element, kind, address) : kNoAddress);
        if (base) {
            scan.defaultTarget = CopyBstr(original.get());
            scan.defaultName = opens ? AnsiString(name.c_str(), name.length()) : AnsiString();
        }
        return Next::Continue;
    }
    }
    // A rewritten name too long to keep: the target stays as the page wrote it.
    if (base) {
        scan.defaultTarget = CopyBstr(original.get());
        scan.defaultName = AnsiString();
    }
    return Next::Continue;
}

const Addressed kBase{TargetOf<IHTMLBaseElement>, nullptr, false};
const Addressed kAnchor{TargetOf<IHTMLAnchorElement>, HrefOf<IHTMLAnchorElement>, false};
const Addressed kArea{TargetOf<IHTMLAreaElement>, HrefOf<IHTMLAreaElement>, false};
const Addressed kForm{TargetOf<IHTMLFormElement>, ActionOf, true};

Next ApplyBaseTarget(Scan& scan, IUnknown* element) { return ApplyTarget(scan, element, kBase); }

Next ApplyAreaTarget(Scan& scan, IUnknown* element) { return ApplyTarget(scan, element, kArea); }

Next ApplyFormTarget(Scan& scan, IUnknown* element) { return ApplyTarget(scan, element, kForm); }

// The status bar may hide where a link leads; its tooltip shows the address.
Next ApplyAnchor(Scan& scan, IUnknown* element) {
    auto* anchor = static_cast<IHTMLAnchorElement*>(element);
    UniqueBstr address;
    if (FAILED(anchor->get_href(address.put()))) address.reset();
    ComPtr<IHTMLElement> plain;
    if (SUCCEEDED(anchor->QueryInterface(IID_IHTMLElement,
                                         reinterpret_cast<void**>(plain.GetAddressOf()))) &&
        plain)
        plain->put_title(address.get());
    return ApplyTarget(scan, element, kAnchor, &address);
}

// --- The scan ---------------------------------------------------------------

// When a phase runs.
enum class When {
    Always,
    BannerAdsBlocked,
    // DIV markup is only complete once the whole document is.
    BannerAdsBlockedInDocumentComplete,
};

// A phase's pass over all its elements, when it is not each in document
// order with its Work.
using Pass = void (*)(Scan& scan, IHTMLElementCollection* elements, long count);

struct Phase {
    const wchar_t* tag;
    const IID* iid;
    Work work;
    When when;
    Pass pass;
};

// Unload handlers and banner ads: a phase that cannot get at its elements is
// skipped and the scan goes on.
const Phase kTolerantPhases[] = {
    {L"body", &IID_IHTMLBodyElement, ClearUnloadHandler<IHTMLBodyElement>, When::Always},
    {L"frameset", &IID_IHTMLFrameSetElement, ClearUnloadHandler<IHTMLFrameSetElement>,
     When::Always},
    {L"img", &IID_IHTMLImgElement, TestImage, When::BannerAdsBlocked},
    {L"object", &IID_IHTMLObjectElement, TestObject, When::BannerAdsBlocked},
    {L"embed", &IID_IHTMLEmbedElement, TestEmbed, When::BannerAdsBlocked},
    {L"div", &IID_IHTMLElement, nullptr, When::BannerAdsBlockedInDocumentComplete, TestContainers},
};

// Targets: a phase that cannot get at its elements ends the scan with the
// failure.
const Phase kStrictPhases[] = {
    {L"base", &IID_IHTMLBaseElement, ApplyBaseTarget, When::Always},
    {L"a", &IID_IHTMLAnchorElement, ApplyAnchor, When::Always},
    {L"area", &IID_IHTMLAreaElement, ApplyAreaTarget, When::Always},
    {L"form", &IID_IHTMLFormElement, ApplyFormTarget, When::Always},
};

bool Runs(const Scan& scan, When when) {
    // The switch is read again at each phase: the tray menu of any process
    // may change it while a long page is being scanned.
    switch (when) {
    case When::Always:
        return true;
    case When::BannerAdsBlocked:
        return sharedState->blockBannerAds != 0;
    case When::BannerAdsBlockedInDocumentComplete:
        return sharedState->blockBannerAds != 0 && scan.inDocumentComplete;
    }
    return false;
}

void RunTolerantGroup(Scan& scan) {
    for (const Phase& phase : kTolerantPhases) {
        if (!Runs(scan, phase.when)) continue;
        HRESULT ignored = S_OK;
        ComPtr<IHTMLElementCollection> collection = TagCollection(scan.all, phase.tag, &ignored);
        if (!collection) continue;
        long count = 0;
        if (FAILED(collection->get_length(&count))) count = 0;
        if (phase.pass)
            phase.pass(scan, collection.Get(), count);
        else
            ForEachElement(scan, collection.Get(), count, *phase.iid, phase.work);
    }
}

// Returns S_OK also when a phase ended the scan early.
HRESULT RunStrictGroup(Scan& scan) {
    for (const Phase& phase : kStrictPhases) {
        HRESULT result = S_OK;
        ComPtr<IHTMLElementCollection> collection = TagCollection(scan.all, phase.tag, &result);
        if (FAILED(result)) return result;
        if (!collection) continue;
        long count = 0;
        result = collection->get_length(&count);
        if (FAILED(result)) return result;
        if (ForEachElement(scan, collection.Get(), count, *phase.iid, phase.work) == Next::StopScan)
            return S_OK;
    }
    return S_OK;
}

}  // namespace

ComPtr<IUnknown> ItemAs(IHTMLElementCollection* collection, long index, REFIID iid) {
    VARIANT position;
    VariantInit(&position);
    V_VT(&position) = VT_I4;
    V_I4(&position) = index;
    VARIANT none;
    VariantInit(&none);
    ComPtr<IDispatch> item;
    ComPtr<IUnknown> element;
    if (FAILED(collection->item(position, none, item.GetAddressOf())) || !item) return element;
    if (FAILED(item->QueryInterface(iid, reinterpret_cast<void**>(element.GetAddressOf()))))
        element.Reset();
    return element;
}

bool IsAdContainer(const wchar_t* markup, size_t length) {
    if (!markup || length > kAdContainerMarkupLimit) return false;
    MediaTagChain chain;
    // Markup that cannot be converted reads as empty, and empty markup holds
    // no media tag.
    return FeedAnsi(markup, length, chain) && chain.IsAdContainer();
}

namespace {

// The document's elements, or null (with S_OK) when eventBrowser shows no
// HTML document.
HRESULT AllElements(IWebBrowser2* eventBrowser, ComPtr<IHTMLElementCollection>* all) {
    ComPtr<IDispatch> dispatch;
    HRESULT result = eventBrowser->get_Document(dispatch.ReleaseAndGetAddressOf());
    if (FAILED(result)) return result;
    // No document yet, or one that is not HTML (a folder view, a PDF).
    ComPtr<IHTMLDocument2> document;
    if (!dispatch || FAILED(dispatch.As(&document)) || !document) return S_OK;
    return document->get_all(all->ReleaseAndGetAddressOf());
}

HRESULT RunScan(IWebBrowser2* eventBrowser, IWebBrowser2* siteBrowser, BYTE inDocumentComplete,
                bool namesOnly) {
    if (!eventBrowser) return S_OK;
    ComPtr<IHTMLElementCollection> all;
    const HRESULT result = AllElements(eventBrowser, &all);
    if (FAILED(result)) return result;
    if (!all) return S_OK;

    Scan scan{all.Get(), eventBrowser == siteBrowser, inDocumentComplete != 0, UniqueBstr(),
              UniqueBstr()};
    scan.owner = reinterpret_cast<std::uintptr_t>(siteBrowser);
    scan.page = reinterpret_cast<std::uintptr_t>(eventBrowser);
    scan.browser = eventBrowser;
    if (!namesOnly) RunTolerantGroup(scan);
    scan.defaultTarget = AllocBstr(L"_self");
    return RunStrictGroup(scan);
}

}  // namespace

HRESULT ScanPage(IWebBrowser2* eventBrowser, IWebBrowser2* siteBrowser, BYTE inDocumentComplete) {
    return RunScan(eventBrowser, siteBrowser, inDocumentComplete, false);
}

HRESULT ScanTargetNames(IWebBrowser2* eventBrowser, IWebBrowser2* siteBrowser) {
    return RunScan(eventBrowser, siteBrowser, 0, true);
}

namespace {

size_t UpToQuery(const wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == L'?' || text[i] == L'#') return i;
    return length;
}

// One look at a live document for an element that opens a new window to
// url. The addresses are compared as the document gives them, in UTF-16,
// and only an element whose address is url has its target read.
struct OpenerWalk {
    IWebBrowser2* browser;
    const wchar_t* url;
    size_t length;
    UniqueBstr baseTarget;  // the document's, as it is now
    UniqueBstr pageUrl;     // read for a form without an action
    bool pageUrlRead = false;
    long budget = kOpenerWalkLimit;

    bool PointsTo(BSTR address, bool form) {
        const wchar_t* text = address;
        size_t size = SysStringLen(address);
        if (form && size == 0) {
            if (!pageUrlRead) {
                pageUrlRead = true;
                if (FAILED(browser->get_LocationURL(pageUrl.put()))) pageUrl.reset();
            }
            text = pageUrl.get();
            size = SysStringLen(pageUrl.get());
        }
        if (!form) return size == length && std::wmemcmp(text, url, size) == 0;
        const size_t compared = UpToQuery(text, size);
        return compared == UpToQuery(url, length) && std::wmemcmp(text, url, compared) == 0;
    }

    bool Finds(IHTMLElementCollection* all, const wchar_t* tag, REFIID iid, const Addressed& kind) {
        HRESULT ignored = S_OK;
        const ComPtr<IHTMLElementCollection> elements = TagCollection(all, tag, &ignored);
        long count = 0;
        if (!elements || FAILED(elements->get_length(&count))) return false;
        // From the last: what a page's script added lies mostly at its end,
        // and the first were named by the scan.
        for (long i = count - 1; i >= 0 && budget > 0; --i, --budget) {
            const ComPtr<IUnknown> element = ItemAs(elements.Get(), i, iid);
            if (!element) continue;
            UniqueBstr address;
            if (FAILED(kind.address(element.Get(), address.put()))) continue;
            if (!PointsTo(address.get(), kind.form)) continue;
            UniqueBstr target;
            if (FAILED(kind.target(element.Get(), target.put(), nullptr))) target.reset();
            const AnsiText name(SysStringLen(target.get()) ? target.get() : baseTarget.get());
            if (OpensNewWindow(name.c_str())) return true;
        }
        return false;
    }
};

}  // namespace

bool PageOpensNewWindowTo(IWebBrowser2* browser, const wchar_t* url, size_t length) {
    if (!browser || !url || !length) return false;
    ComPtr<IHTMLElementCollection> all;
    if (FAILED(AllElements(browser, &all)) || !all) return false;
    OpenerWalk walk{browser, url, length, UniqueBstr(), UniqueBstr()};
    HRESULT ignored = S_OK;
    if (const ComPtr<IHTMLElementCollection> bases = TagCollection(all.Get(), L"base", &ignored)) {
        long count = 0;
        if (FAILED(bases->get_length(&count))) count = 0;
        for (long i = 0; i < count; ++i) {
            const ComPtr<IUnknown> base = ItemAs(bases.Get(), i, IID_IHTMLBaseElement);
            UniqueBstr target;
            if (base && SUCCEEDED(kBase.target(base.Get(), target.put(), nullptr)) && SysStringLen(target.get()))
                walk.baseTarget = std::move(target);
        }
    }
    return walk.Finds(all.Get(), L"a", IID_IHTMLAnchorElement, kAnchor) ||
           walk.Finds(all.Get(), L"area", IID_IHTMLAreaElement, kArea) ||
           walk.Finds(all.Get(), L"form", IID_IHTMLFormElement, kForm);
}

}  // namespace korvane
