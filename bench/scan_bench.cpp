// What the page scan costs beside the walk over the document it cannot
// avoid. For generated pages of 1,000, 10,000 and 100,000 elements it times
// ScanPage (top document, DocumentComplete, banner ads blocked: all ten
// phases) against a bare traversal that makes the same document calls
// (tags, get_length, item, QueryInterface for the phase's interface) and
// does nothing with the elements. Prints the ratio at each size, how both
// grow with the size of the page, and the scan again with fewer phases to
// show where its time goes.
#include <windows.h>
#include <mshtml.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/com.h"
#include "dom/dom.h"
#include "module/shared_state.h"
#include "scanner/fake_browser.h"
#include "scanner/page_scanner.h"

using namespace korvane;
using korvane::test::FakeBrowser;

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Phase {
    const wchar_t* tag;
    const IID* iid;
};

const Phase kPhases[] = {
    {L"body", &IID_IHTMLBodyElement},     {L"frameset", &IID_IHTMLFrameSetElement},
    {L"img", &IID_IHTMLImgElement},       {L"object", &IID_IHTMLObjectElement},
    {L"embed", &IID_IHTMLEmbedElement},   {L"div", &IID_IHTMLElement},
    {L"base", &IID_IHTMLBaseElement},     {L"a", &IID_IHTMLAnchorElement},
    {L"area", &IID_IHTMLAreaElement},     {L"form", &IID_IHTMLFormElement},
};

// The calls every scan has to make to reach the elements, and no more.
long Traverse(IWebBrowser2* browser) {
    ComPtr<IDispatch> dispatch;
    if (FAILED(browser->get_Document(&dispatch)) || !dispatch) return 0;
    ComPtr<IHTMLDocument2> document;
    if (FAILED(dispatch.As(&document))) return 0;
    ComPtr<IHTMLElementCollection> all;
    if (FAILED(document->get_all(&all)) || !all) return 0;
    long visited = 0;
    for (const Phase& phase : kPhases) {
        VARIANT name;
        VariantInit(&name);
        V_VT(&name) = VT_BSTR;
        V_BSTR(&name) = SysAllocString(phase.tag);
        ComPtr<IDispatch> tagged;
        all->tags(name, &tagged);
        VariantClear(&name);
        ComPtr<IHTMLElementCollection> collection;
        if (!tagged || FAILED(tagged.As(&collection))) continue;
        long count = 0;
        if (FAILED(collection->get_length(&count))) continue;
        for (long i = 0; i < count; ++i) {
            VARIANT index;
            VariantInit(&index);
            V_VT(&index) = VT_I4;
            V_I4(&index) = i;
            VARIANT none;
            VariantInit(&none);
            ComPtr<IDispatch> item;
            if (FAILED(collection->item(index, none, &item)) || !item) continue;
            ComPtr<IUnknown> element;
            if (SUCCEEDED(item->QueryInterface(*phase.iid, reinterpret_cast<void**>(
                                                               element.GetAddressOf()))))
                ++visited;
        }
    }
    return visited;
}

long AllCount(standin::Document& page) {
    ComPtr<IHTMLElementCollection> all;
    long count = 0;
    if (SUCCEEDED(page.Html()->get_all(&all)) && all) all->get_length(&count);
    return count;
}

// Which phases the scan runs.
struct Setting {
    const char* name;
    BYTE blockBannerAds;
    BYTE inDocumentComplete;
};

const Setting kAllPhases = {"all ten phases", 1, 1};
const Setting kBreakdown[] = {
    {"without DIVs (DownloadComplete)", 1, 0},
    {"unload and targets (ads allowed)", 0, 1},
};

struct Figures {
    int requested = 0;
    long elements = 0;
    int runs = 0;
    double scanSeconds = 0;      // per run
    double traverseSeconds = 0;  // per run
};

// Each run gets a freshly parsed page: a second scan of a top document ends
// at its first rewritten target, which would flatter the scan. Parsing is not
// timed.
Figures Measure(int requested, int runs, const Setting& setting) {
    sharedState->blockBannerAds = setting.blockBannerAds;
    const std::string html = standin::GeneratePage(requested, 20240601u + requested);
    Figures figures;
    figures.requested = requested;
    figures.runs = runs;
    double scanTotal = 0;
    double traverseTotal = 0;
    for (int run = 0; run < runs; ++run) {
        auto page = standin::Document::Parse(html, "http://bench.example.com/page.html");
        if (run == 0) figures.elements = AllCount(*page);
        FakeBrowser browser(page->Html().Get());

        // Alternate which goes first, so neither always meets a warm cache.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (run % 2 == 0)) {
                const double start = Now();
                Traverse(&browser);
                traverseTotal += Now() - start;
            } else {
                const double start = Now();
                ScanPage(&browser, &browser, setting.inDocumentComplete);
                scanTotal += Now() - start;
            }
        }
    }
    figures.scanSeconds = scanTotal / runs;
    figures.traverseSeconds = traverseTotal / runs;
    return figures;
}

}  // namespace

int main() {
    const struct {
        int elements;
        int runs;
    } sizes[] = {{1000, 40}, {10000, 10}, {100000, 3}};

    std::printf("Page scan against a bare traversal of the same document\n");
    std::printf("(top document, DocumentComplete, banner ads blocked; mean of the runs)\n\n");
    std::printf("%9s %9s %5s %11s %11s %8s %11s %11s\n", "requested", "elements", "runs",
                "scan ms", "walk ms", "ratio", "scan us/el", "walk us/el");
    std::vector<Figures> all;
    for (const auto& size : sizes) {
        Figures f = Measure(size.elements, size.runs, kAllPhases);
        all.push_back(f);
        const double perScan = f.scanSeconds * 1e6 / (f.elements ? f.elements : 1);
        const double perWalk = f.traverseSeconds * 1e6 / (f.elements ? f.elements : 1);
        std::printf("%9d %9ld %5d %11.2f %11.2f %8.2f %11.3f %11.3f\n", f.requested, f.elements,
                    f.runs, f.scanSeconds * 1e3, f.traverseSeconds * 1e3,
                    f.scanSeconds / f.traverseSeconds, perScan, perWalk);
    }

    std::printf("\nGrowth (a linear cost gives the element ratio):\n");
    for (size_t i = 1; i < all.size(); ++i) {
        const Figures& small = all[i - 1];
        const Figures& large = all[i];
        std::printf("  %dk/%dk: elements x%.2f, scan x%.2f, walk x%.2f, "
                    "scan time per element x%.2f\n",
                    large.requested / 1000, small.requested / 1000,
                    static_cast<double>(large.elements) / small.elements,
                    large.scanSeconds / small.scanSeconds,
                    large.traverseSeconds / small.traverseSeconds,
                    (large.scanSeconds / large.elements) / (small.scanSeconds / small.elements));
    }

    std::printf("\nWhere the time goes (scan ms, and its ratio to the walk):\n");
    for (const Setting& setting : kBreakdown) {
        std::printf("  %-34s", setting.name);
        for (const auto& size : sizes) {
            Figures f = Measure(size.elements, size.runs, setting);
            std::printf("  %dk: %8.2f (x%5.2f)", size.elements / 1000, f.scanSeconds * 1e3,
                        f.scanSeconds / f.traverseSeconds);
        }
        std::printf("\n");
    }
    return 0;
}
