#include "scanner/page_scanner.h"

#include <mshtml.h>

#include <new>

#include "base/ansi_string.h"
#include "base/com.h"
#include "helper/string_ring.h"
#include "module/shared_state.h"
#include "scanner/banner_rules.h"
#include "scanner/target_rules.h"

namespace korvane {
namespace {

// What a phase's work on one element tells the element loop.
enum class Next { Continue, StopScan };

struct Scan {
    IHTMLElementCollection* all;
    bool isTopLevel;
    bool inDocumentComplete;
    // Given to links, areas and forms without a target of their own.
    UniqueBstr defaultTarget;
};

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

// Element i of a collection, or null when it cannot be had.
ComPtr<IDispatch> Item(IHTMLElementCollection* collection, long i) {
    VARIANT index;
    VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = i;
    VARIANT none;
    VariantInit(&none);
    ComPtr<IDispatch> element;
    if (FAILED(collection->item(index, none, element.ReleaseAndGetAddressOf()))) return nullptr;
    return element;
}

// Calls work for every element of the collection that answers Interface, in
// document order, until work asks to stop. Returns whether it did.
template <typename Interface, typename Work>
Next ForEachElement(IHTMLElementCollection* collection, long count, Work work) {
    for (long i = 0; i < count; ++i) {
        ComPtr<IDispatch> item = Item(collection, i);
        if (!item) continue;
        ComPtr<Interface> element;
        if (FAILED(item.As(&element)) || !element) continue;
        if (work(element.Get()) == Next::StopScan) return Next::StopScan;
    }
    return Next::Continue;
}

// Unload handlers and banner ads: a phase that cannot get at its elements
// is skipped and the scan goes on.
template <typename Interface, typename Work>
void RunTolerantPhase(const Scan& scan, const wchar_t* tag, Work work) {
    HRESULT ignored = S_OK;
    ComPtr<IHTMLElementCollection> collection = TagCollection(scan.all, tag, &ignored);
    if (!collection) return;
    long count = 0;
    if (FAILED(collection->get_length(&count))) count = 0;
    ForEachElement<Interface>(collection.Get(), count, work);
}

// Targets: a phase that cannot get at its elements ends the scan with the
// failure. *stopped tells the caller that work ended the scan early.
template <typename Interface, typename Work>
HRESULT RunStrictPhase(const Scan& scan, const wchar_t* tag, bool* stopped, Work work) {
    *stopped = false;
    HRESULT result = S_OK;
    ComPtr<IHTMLElementCollection> collection = TagCollection(scan.all, tag, &result);
    if (FAILED(result)) return result;
    if (!collection) return S_OK;
    long count = 0;
    result = collection->get_length(&count);
    if (FAILED(result)) return result;
    *stopped = ForEachElement<Interface>(collection.Get(), count, work) == Next::StopScan;
    return S_OK;
}

// --- Unload handlers ------------------------------------------------------

// A page's unload handler commonly opens a window as the user leaves; an
// empty handler takes its place.
template <typename Element>
Next ClearUnloadHandler(Element* element) {
    element->put_onunload(EmptyStringValue());
    return Next::Continue;
}

// --- Banner ads -------------------------------------------------------------

Next TestImage(IHTMLImgElement* image) {
    UniqueBstr source;
    if (FAILED(image->get_src(source.put()))) source.reset();
    AnsiString address = ToAnsi(source.get());
    LowerCase(address);
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
    *size = LeadingInteger(ToAnsi(V_BSTR(&value)).c_str());
    return true;
}

template <typename Plugin>
Next TestPlugin(Plugin* plugin) {
    UniqueVariant widthValue;
    UniqueVariant heightValue;
    if (FAILED(plugin->get_width(widthValue.put()))) return Next::Continue;
    if (FAILED(plugin->get_height(heightValue.put()))) return Next::Continue;
    long width = 0;
    long height = 0;
    if (!ReadSizeText(widthValue.get(), &width)) return Next::Continue;
    if (!ReadSizeText(heightValue.get(), &height)) return Next::Continue;
    if (!MatchesBannerSize(width, height)) return Next::Continue;

    plugin->put_width(EmptyStringValue());
    plugin->put_height(EmptyStringValue());
    return Next::Continue;
}

Next TestContainer(IHTMLElement* division) {
    ComPtr<IHTMLStyle> style;
    if (FAILED(division->get_style(style.ReleaseAndGetAddressOf())) || !style)
        return Next::Continue;
    UniqueBstr inner;
    if (FAILED(division->get_innerHTML(inner.put()))) inner.reset();
    AnsiString markup = ToAnsi(inner.get());
    inner.reset();
    UpperCase(markup);
    if (!IsAdContainerMarkup(markup.c_str())) return Next::Continue;

    UniqueBstr hidden = AllocBstr(L"hidden");
    style->put_visibility(hidden.get());
    return Next::Continue;
}

// --- Targets ----------------------------------------------------------------

// The element's target as a narrow string; empty when it has none, when it is
// empty, or when it cannot be read. original keeps the BSTR itself. Callers
// test for "no target" on the C string, as every other test on target names
// reads it: a target that begins with a NUL character counts as none.
template <typename Element>
AnsiString ReadTarget(Element* element, UniqueBstr* original) {
    if (FAILED(element->get_target(original->put()))) original->reset();
    return ToAnsi(original->get());
}

template <typename Element>
void WriteTarget(Element* element, const char* target) {
    UniqueBstr value(ToBstr(target));
    element->put_target(value.get());
}

// Whether a name of the scan's making for target could be kept in
// KnownTargetNames. One that could not is never written: the element keeps
// the page's own target, and the window it opens is judged like any other.
bool RewrittenNameFits(const AnsiString& target) {
    return target.length() + kRewrittenTargetPrefixLength <= kLongestRingEntry;
}

Next ApplyBaseTarget(Scan& scan, IHTMLBaseElement* base) {
    UniqueBstr original;
    AnsiString target = ReadTarget(base, &original);
    if (!*target.c_str()) return Next::Continue;

    const TargetDecision decision = ClassifyTarget(target.c_str(), scan.isTopLevel);
    if (decision == TargetDecision::Rewrite && !RewrittenNameFits(target)) {
        scan.defaultTarget = CopyBstr(original.get());
        return Next::Continue;
    }
    switch (decision) {
    case TargetDecision::StopScan:
        return Next::StopScan;
    case TargetDecision::Rewrite: {
        AnsiString rewritten = MakeRewrittenTarget(target.c_str());
        UniqueBstr value(ToBstr(rewritten.c_str()));
        base->put_target(value.get());
        scan.defaultTarget = std::move(value);
        target = std::move(rewritten);
        break;
    }
    case TargetDecision::Keep:
        scan.defaultTarget = CopyBstr(original.get());
        break;
    }
    TheKnownTargetNames().Add(target.c_str());
    return Next::Continue;
}

// Links, areas and forms: a missing target becomes the page's default one; a
// target that would open a new window gets a name the popup filter knows.
template <typename Element>
Next ApplyTarget(const Scan& scan, Element* element) {
    UniqueBstr original;
    AnsiString target = ReadTarget(element, &original);
    if (!*target.c_str()) {
        element->put_target(scan.defaultTarget.get());
        return Next::Continue;
    }

    const TargetDecision decision = ClassifyTarget(target.c_str(), scan.isTopLevel);
    if (decision == TargetDecision::Rewrite && !RewrittenNameFits(target)) return Next::Continue;
    switch (decision) {
    case TargetDecision::StopScan:
        return Next::StopScan;
    case TargetDecision::Rewrite:
        target = MakeRewrittenTarget(target.c_str());
        WriteTarget(element, target.c_str());
        break;
    case TargetDecision::Keep:
        break;
    }
    TheKnownTargetNames().Add(target.c_str());
    return Next::Continue;
}

// The status bar may hide where a link leads; its tooltip shows the address.
void ShowAddressAsTitle(IHTMLAnchorElement* anchor) {
    UniqueBstr address;
    if (FAILED(anchor->get_href(address.put()))) address.reset();
    ComPtr<IHTMLElement> element;
    if (FAILED(anchor->QueryInterface(IID_IHTMLElement,
                                      reinterpret_cast<void**>(element.GetAddressOf()))) ||
        !element)
        return;
    element->put_title(address.get());
}

// --- The scan ---------------------------------------------------------------

bool BlockingBannerAds() { return sharedState->blockBannerAds != 0; }

void RunTolerantGroup(const Scan& scan) {
    RunTolerantPhase<IHTMLBodyElement>(scan, L"body", ClearUnloadHandler<IHTMLBodyElement>);
    RunTolerantPhase<IHTMLFrameSetElement>(scan, L"frameset",
                                           ClearUnloadHandler<IHTMLFrameSetElement>);
    // The switch is read again at each phase: the tray menu of any process
    // may change it while a long page is being scanned.
    if (BlockingBannerAds()) RunTolerantPhase<IHTMLImgElement>(scan, L"img", TestImage);
    if (BlockingBannerAds())
        RunTolerantPhase<IHTMLObjectElement>(scan, L"object", TestPlugin<IHTMLObjectElement>);
    if (BlockingBannerAds())
        RunTolerantPhase<IHTMLEmbedElement>(scan, L"embed", TestPlugin<IHTMLEmbedElement>);
    // DIV markup is only complete once the whole document is.
    if (BlockingBannerAds() && scan.inDocumentComplete)
        RunTolerantPhase<IHTMLElement>(scan, L"div", TestContainer);
}

// Returns S_OK also when a phase ended the scan early.
HRESULT RunStrictGroup(Scan& scan) {
    auto base = [&scan](IHTMLBaseElement* element) { return ApplyBaseTarget(scan, element); };
    auto anchor = [&scan](IHTMLAnchorElement* element) {
        ShowAddressAsTitle(element);
        return ApplyTarget(scan, element);
    };
    auto area = [&scan](IHTMLAreaElement* element) { return ApplyTarget(scan, element); };
    auto form = [&scan](IHTMLFormElement* element) { return ApplyTarget(scan, element); };

    bool stopped = false;
    HRESULT result = RunStrictPhase<IHTMLBaseElement>(scan, L"base", &stopped, base);
    if (FAILED(result) || stopped) return result;
    result = RunStrictPhase<IHTMLAnchorElement>(scan, L"a", &stopped, anchor);
    if (FAILED(result) || stopped) return result;
    result = RunStrictPhase<IHTMLAreaElement>(scan, L"area", &stopped, area);
    if (FAILED(result) || stopped) return result;
    return RunStrictPhase<IHTMLFormElement>(scan, L"form", &stopped, form);
}

}  // namespace

HRESULT ScanPage(IWebBrowser2* eventBrowser, IWebBrowser2* siteBrowser, BYTE inDocumentComplete) {
    if (!eventBrowser) return S_OK;

    ComPtr<IDispatch> dispatch;
    HRESULT result = eventBrowser->get_Document(dispatch.ReleaseAndGetAddressOf());
    if (FAILED(result)) return result;
    // No document yet, or one that is not HTML (a folder view, a PDF).
    ComPtr<IHTMLDocument2> document;
    if (!dispatch || FAILED(dispatch.As(&document)) || !document) return S_OK;

    ComPtr<IHTMLElementCollection> all;
    result = document->get_all(all.ReleaseAndGetAddressOf());
    if (FAILED(result)) return result;
    if (!all) return S_OK;

    Scan scan{all.Get(), eventBrowser == siteBrowser, inDocumentComplete != 0, UniqueBstr()};
    RunTolerantGroup(scan);
    scan.defaultTarget = AllocBstr(L"_self");
    return RunStrictGroup(scan);
}

}  // namespace korvane
