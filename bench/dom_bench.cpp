// How the document stand-in's cost grows with the page: parse and a walk
// like the page scan's over generated pages of 1,000, 10,000 and 100,000
// elements. Figures are per element, as ratios to the 1,000-element page
// measured in the same run: about 1 everywhere means linear.
#include <windows.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <cstdio>

#include "dom.h"

using Microsoft::WRL::ComPtr;

namespace {

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

ComPtr<IHTMLElementCollection> Tags(IHTMLElementCollection* all, const wchar_t* tag) {
    VARIANT name;
    VariantInit(&name);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(tag);
    ComPtr<IDispatch> dispatch;
    all->tags(name, &dispatch);
    VariantClear(&name);
    ComPtr<IHTMLElementCollection> collection;
    if (dispatch) dispatch.As(&collection);
    return collection;
}

// Calls work on every element of a tag that answers Interface.
template <typename Interface, typename Work>
long Phase(IHTMLElementCollection* all, const wchar_t* tag, Work work) {
    ComPtr<IHTMLElementCollection> elements = Tags(all, tag);
    long length = 0;
    if (!elements || FAILED(elements->get_length(&length))) return 0;
    for (long i = 0; i < length; ++i) {
        VARIANT index, none;
        VariantInit(&index);
        VariantInit(&none);
        V_VT(&index) = VT_I4;
        V_I4(&index) = i;
        ComPtr<IDispatch> element;
        ComPtr<Interface> face;
        if (FAILED(elements->item(index, none, &element)) || !element || FAILED(element.As(&face))) continue;
        work(face.Get());
    }
    return length;
}

long Walk(standin::Document& document) {
    ComPtr<IHTMLElementCollection> all;
    document.Html()->get_all(&all);
    long visited = 0;
    visited += Phase<IHTMLImgElement>(all.Get(), L"img", [](IHTMLImgElement* img) {
        BSTR src = nullptr;
        long width = 0, height = 0;
        img->get_src(&src);
        img->get_width(&width);
        img->get_height(&height);
        SysFreeString(src);
    });
    visited += Phase<IHTMLObjectElement>(all.Get(), L"object", [](IHTMLObjectElement* object) {
        VARIANT width, height;
        object->get_width(&width);
        object->get_height(&height);
        VariantClear(&width);
        VariantClear(&height);
    });
    visited += Phase<IHTMLElement>(all.Get(), L"div", [](IHTMLElement* div) {
        ComPtr<IHTMLStyle> style;
        div->get_style(&style);
        BSTR markup = nullptr;
        div->get_innerHTML(&markup);
        SysFreeString(markup);
    });
    visited += Phase<IHTMLAnchorElement>(all.Get(), L"a", [](IHTMLAnchorElement* anchor) {
        BSTR href = nullptr, target = nullptr;
        anchor->get_href(&href);
        anchor->get_target(&target);
        SysFreeString(href);
        SysFreeString(target);
    });
    visited += Phase<IHTMLFormElement>(all.Get(), L"form", [](IHTMLFormElement* form) {
        BSTR target = nullptr;
        form->get_target(&target);
        SysFreeString(target);
    });
    return visited;
}

}  // namespace

int main() {
    standin::DisableBstrTracking();
    const int sizes[] = {1000, 10000, 100000};
    double baseParse = 0, baseWalk = 0;
    std::printf("%10s %12s %12s %10s %10s %14s\n", "elements", "parse ms", "walk ms", "parse x", "walk x",
                "walked elements");
    for (int size : sizes) {
        const std::string page = standin::GeneratePage(size, 1);
        const double start = Now();
        auto document = standin::Document::Parse(page, "http://bench.example/page.html");
        const double parsed = Now();
        const long visited = Walk(*document);
        const double walked = Now();
        const double parsePer = (parsed - start) / size;
        const double walkPer = (walked - parsed) / size;
        if (size == sizes[0]) {
            baseParse = parsePer;
            baseWalk = walkPer;
        }
        std::printf("%10d %12.1f %12.1f %10.2f %10.2f %14ld\n", size, parsed - start, walked - parsed,
                    parsePer / baseParse, walkPer / baseWalk, visited);
    }
    std::printf("live references %ld, live strings %ld\n", standin::LiveDomRefs(), standin::LiveBstrs());
    return 0;
}
