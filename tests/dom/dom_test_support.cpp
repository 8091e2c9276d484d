#include "dom_test_support.h"

#include "support/test_support.h"

namespace domtest {

std::shared_ptr<standin::Document> Parse(const std::string& html, const std::string& url,
                                         const standin::DomOptions& options) {
    return standin::Document::Parse(html, url, options);
}

std::string Text(BSTR text) {
    if (!text) return "(null)";
    const int length = static_cast<int>(SysStringLen(text));
    if (length == 0) return std::string();
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], needed, nullptr, nullptr);
    return out;
}

ComPtr<IHTMLElementCollection> All(standin::Document& document) {
    ComPtr<IHTMLDocument2> html = document.Html();
    ComPtr<IHTMLElementCollection> all;
    if (html) html->get_all(all.ReleaseAndGetAddressOf());
    return all;
}

ComPtr<IHTMLElementCollection> Tags(IHTMLElementCollection* all, const wchar_t* tag, HRESULT* result) {
    UniqueVariant name;
    V_VT(name.ptr()) = VT_BSTR;
    V_BSTR(name.ptr()) = SysAllocString(tag);
    ComPtr<IDispatch> dispatch;
    const HRESULT hr = all->tags(name.get(), dispatch.ReleaseAndGetAddressOf());
    if (result) *result = hr;
    ComPtr<IHTMLElementCollection> collection;
    if (dispatch) dispatch.As(&collection);
    return collection;
}

ComPtr<IDispatch> Item(IHTMLElementCollection* collection, long index, HRESULT* result) {
    VARIANT position;
    VariantInit(&position);
    V_VT(&position) = VT_I4;
    V_I4(&position) = index;
    VARIANT none;
    VariantInit(&none);
    ComPtr<IDispatch> element;
    const HRESULT hr = collection->item(position, none, element.ReleaseAndGetAddressOf());
    if (result) *result = hr;
    return element;
}

long Length(IHTMLElementCollection* collection) {
    long length = -1;
    if (FAILED(collection->get_length(&length))) return -1;
    return length;
}

std::string InnerHtml(IHTMLElement* element) {
    UniqueBstr markup;
    if (!element || FAILED(element->get_innerHTML(markup.put()))) return "(failed)";
    return markup ? Text(markup.get()) : std::string();
}

std::string BodyHtml(standin::Document& document) {
    ComPtr<IHTMLDocument2> html = document.Html();
    ComPtr<IHTMLElement> body;
    if (html) html->get_body(body.ReleaseAndGetAddressOf());
    return InnerHtml(body.Get());
}

namespace {

template <typename Interface, typename Work>
long Phase(IHTMLElementCollection* all, const wchar_t* tag, Work work) {
    ComPtr<IHTMLElementCollection> elements = Tags(all, tag);
    if (!elements) return 0;
    long length = 0;
    if (FAILED(elements->get_length(&length))) return 0;
    long answered = 0;
    for (long i = 0; i < length; ++i) {
        ComPtr<IDispatch> element = Item(elements.Get(), i);
        ComPtr<Interface> face;
        if (!element || FAILED(element.As(&face))) continue;
        ++answered;
        work(face.Get());
    }
    return answered;
}

}  // namespace

WalkCounts ScanLikeWalk(standin::Document& document) {
    WalkCounts counts;
    ComPtr<IHTMLElementCollection> all = All(document);
    if (!all) return counts;
    IHTMLElementCollection* a = all.Get();
    counts.body = Phase<IHTMLBodyElement>(a, L"body", [](IHTMLBodyElement*) {});
    counts.frameset = Phase<IHTMLFrameSetElement>(a, L"frameset", [](IHTMLFrameSetElement*) {});
    counts.img = Phase<IHTMLImgElement>(a, L"img", [](IHTMLImgElement* img) {
        UniqueBstr src;
        img->get_src(src.put());
        long width = 0, height = 0;
        img->get_width(&width);
        img->get_height(&height);
    });
    auto plugin = [](auto* element) {
        UniqueVariant width, height;
        element->get_width(width.put());
        element->get_height(height.put());
    };
    counts.object = Phase<IHTMLObjectElement>(a, L"object", plugin);
    counts.embed = Phase<IHTMLEmbedElement>(a, L"embed", plugin);
    counts.div = Phase<IHTMLElement>(a, L"div", [](IHTMLElement* div) {
        ComPtr<IHTMLStyle> style;
        div->get_style(style.ReleaseAndGetAddressOf());
        UniqueBstr markup;
        div->get_innerHTML(markup.put());
    });
    counts.base = Phase<IHTMLBaseElement>(a, L"base", [](IHTMLBaseElement* base) {
        UniqueBstr target;
        base->get_target(target.put());
    });
    counts.a = Phase<IHTMLAnchorElement>(a, L"a", [](IHTMLAnchorElement* anchor) {
        UniqueBstr href, target;
        anchor->get_href(href.put());
        anchor->get_target(target.put());
        ComPtr<IHTMLElement> element;
        if (SUCCEEDED(anchor->QueryInterface(IID_PPV_ARGS(&element)))) {
            UniqueBstr title;
            element->get_title(title.put());
        }
    });
    counts.area = Phase<IHTMLAreaElement>(a, L"area", [](IHTMLAreaElement* area) {
        UniqueBstr target;
        area->get_target(target.put());
    });
    counts.form = Phase<IHTMLFormElement>(a, L"form", [](IHTMLFormElement* form) {
        UniqueBstr target;
        form->get_target(target.put());
    });
    return counts;
}

bool CorpusAvailable() {
    const DWORD attributes = GetFileAttributesA(CorpusPath("").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string CorpusPath(const std::string& relative) {
    return std::string(KORVANE_PAGE_CORPUS) + "/" + relative;
}

std::string ReadCorpusPage(const std::string& relative) {
    return korvane::test::ReadFileBytes(CorpusPath(relative));
}

}  // namespace domtest
