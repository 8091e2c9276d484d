// What the page scan costs beside the document calls it has to make.
//
// The baseline is a walk that makes, on the same elements, the same calls
// to the document that the scan makes: tags, get_length, item and the
// element's interface for every phase, then each property the scan's rules
// read (src, width, height, style, innerHTML, href, target) and each
// property the scan writes, with the values it wrote (taken from a scan of
// an identical page before the timing). It does no string work at all:
// what the scan takes beyond it is the library's own work (conversions,
// allocations, the rules, the ring of known names).
//
// Pages:
//   flat      generated pages of 1,000, 10,000 and 100,000 elements
//   nested    DIVs nested 10, 100 and 1,000 deep (the parser stops nesting
//             at 512), each level holding a link, an image and some text:
//             every DIV's inner markup holds all the levels below it, so
//             the markup the document serialises grows with the square of
//             the depth
//   big       500 nested DIVs around 1, 2 and 4 MB of text: banner ads
//             blocked against allowed, the document's own calls against
//             the library's work
//
//   korvane_scan_bench [flat|nested|big]...   (all three by default)
#include <windows.h>
#include <mshtml.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/com.h"
#include "bench_figures.h"
#include "dom/dom.h"
#include "scanner/banner_rules.h"
#include "scanner/fake_browser.h"
#include "scanner/page_scanner.h"
#include "state/shared_state.h"

using namespace korvane;
using bench::Duration;
using bench::Seconds;
using bench::Times;
using korvane::test::FakeBrowser;

namespace {

const char kUrl[] = "http://bench.example.com/page.html";

enum class Tag { Body, Frameset, Img, Object, Embed, Div, Base, A, Area, Form };

struct Phase {
    Tag tag;
    const wchar_t* name;
    const char* narrow;
    const IID* iid;
};

const Phase kPhases[] = {
    {Tag::Body, L"body", "body", &IID_IHTMLBodyElement},
    {Tag::Frameset, L"frameset", "frameset", &IID_IHTMLFrameSetElement},
    {Tag::Img, L"img", "img", &IID_IHTMLImgElement},
    {Tag::Object, L"object", "object", &IID_IHTMLObjectElement},
    {Tag::Embed, L"embed", "embed", &IID_IHTMLEmbedElement},
    {Tag::Div, L"div", "div", &IID_IHTMLElement},
    {Tag::Base, L"base", "base", &IID_IHTMLBaseElement},
    {Tag::A, L"a", "a", &IID_IHTMLAnchorElement},
    {Tag::Area, L"area", "area", &IID_IHTMLAreaElement},
    {Tag::Form, L"form", "form", &IID_IHTMLFormElement},
};

// Which phases run: banner ads blocked or allowed, DocumentComplete or not.
struct Setting {
    BYTE blockBannerAds;
    BYTE inDocumentComplete;
};
const Setting kBlocked = {1, 1};
const Setting kAllowed = {0, 1};

bool Runs(const Phase& phase, const Setting& setting) {
    switch (phase.tag) {
        case Tag::Img:
        case Tag::Object:
        case Tag::Embed:
            return setting.blockBannerAds != 0;
        case Tag::Div:
            return setting.blockBannerAds != 0 && setting.inDocumentComplete != 0;
        default:
            return true;
    }
}

// --- What the scan wrote, for the walk to write again -----------------------

struct ElementWrites {
    bool hidden = false;     // image, plug-in or container hidden
    bool hasTarget = false;  // a target was written
    UniqueBstr target;       // its value (null for a null BSTR)
};

// Tag name -> writes of each element, by its position among its tag.
using Plan = std::map<std::string, std::vector<ElementWrites>>;

UniqueBstr Widen(const std::string& text) {
    std::wstring wide(text.begin(), text.end());
    return UniqueBstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

Plan MakePlan(const std::string& html, const Setting& setting) {
    auto page = standin::Document::Parse(html, kUrl);
    sharedState->blockBannerAds = setting.blockBannerAds;
    {
        FakeBrowser browser(page->Html().Get());
        ScanPage(&browser, &browser, setting.inDocumentComplete);
    }
    Plan plan;
    for (const standin::PropertyWrite& write : page->Writes()) {
        std::vector<ElementWrites>& elements = plan[write.tag];
        if (write.index < 0) continue;
        if (elements.size() <= static_cast<size_t>(write.index)) elements.resize(write.index + 1);
        ElementWrites& element = elements[write.index];
        if (write.property == "target") {
            element.hasTarget = true;
            if (write.value != "(null)") element.target = Widen(write.value);
        } else if (write.property != "title" && write.property != "onunload") {
            element.hidden = true;
        }
    }
    return plan;
}

// The writes of one tag's elements; empty when there are none.
const std::vector<ElementWrites>& Planned(const Plan& plan, const char* tag) {
    static const std::vector<ElementWrites> none;
    auto found = plan.find(tag);
    return found == plan.end() ? none : found->second;
}

// --- The walks ----------------------------------------------------------------

VARIANT EmptyString() {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = nullptr;
    return value;
}

template <typename Interface>
Interface* As(IUnknown* element) {
    return static_cast<Interface*>(element);
}

// A link, area, form or base element: its target read, and written where
// the plan has it.
template <typename Element>
void VisitTarget(Element* element, const ElementWrites* writes) {
    UniqueBstr target;
    element->get_target(target.put());
    if (writes && writes->hasTarget) element->put_target(writes->target.get());
}

// An OBJECT or EMBED element: its size read, and cleared where it is hidden.
template <typename Element>
void VisitPlugin(Element* plugin, bool hide) {
    UniqueVariant width, height;
    plugin->get_width(width.put());
    plugin->get_height(height.put());
    if (hide) plugin->put_width(EmptyString()), plugin->put_height(EmptyString());
}

// The calls the scan makes on one element (the phase's interface), the reads
// always and the writes where the plan has them; strings are passed on
// untouched.
void Visit(const Phase& phase, IUnknown* item, const ElementWrites* writes) {
    const bool hide = writes && writes->hidden;
    switch (phase.tag) {
        case Tag::Body:
            As<IHTMLBodyElement>(item)->put_onunload(EmptyString());
            return;
        case Tag::Frameset:
            As<IHTMLFrameSetElement>(item)->put_onunload(EmptyString());
            return;
        case Tag::Img: {
            auto image = As<IHTMLImgElement>(item);
            UniqueBstr source;
            image->get_src(source.put());
            long width = 0, height = 0;
            image->get_width(&width);
            image->get_height(&height);
            if (!hide) return;
            image->put_width(0);
            image->put_height(0);
            image->put_alt(nullptr);
            return;
        }
        case Tag::Object:
            VisitPlugin(As<IHTMLObjectElement>(item), hide);
            return;
        case Tag::Embed:
            VisitPlugin(As<IHTMLEmbedElement>(item), hide);
            return;
        case Tag::Div:  // WalkDivs
            return;
        case Tag::Base:
            VisitTarget(As<IHTMLBaseElement>(item), writes);
            return;
        case Tag::A: {
            auto anchor = As<IHTMLAnchorElement>(item);
            UniqueBstr address;
            anchor->get_href(address.put());
            ComPtr<IHTMLElement> plain;
            anchor->QueryInterface(IID_IHTMLElement, reinterpret_cast<void**>(plain.GetAddressOf()));
            plain->put_title(address.get());
            VisitTarget(anchor, writes);
            return;
        }
        case Tag::Area:
            VisitTarget(As<IHTMLAreaElement>(item), writes);
            return;
        case Tag::Form:
            VisitTarget(As<IHTMLFormElement>(item), writes);
            return;
    }
}

// What the DIV rule took on the markup a walk read.
struct DivRule {
    double seconds = 0;
    size_t judged = 0;  // characters of markup given to the rule
    size_t read = 0;    // characters of markup read, those over the limit too
};

// The DIV phase's calls as the scan makes them: innermost first, each DIV's
// identity, style and markup; the elements that enclose a DIV of over 64K
// characters of markup, which are then left alone unread; the planned
// hides in document order. With rule, the DIV rule is timed on each markup
// read (the fastest of a few tries: microseconds on a shared machine).
void WalkDivs(IHTMLElementCollection* divs, long count, const std::vector<ElementWrites>* writes,
              BSTR hidden, DivRule* rule) {
    std::unordered_set<IUnknown*> overLimit;
    std::vector<ComPtr<IUnknown>> held;
    std::vector<ComPtr<IHTMLStyle>> toHide;
    for (long i = count - 1; i >= 0; --i) {
        const ComPtr<IUnknown> item = ItemAs(divs, i, IID_IHTMLElement);
        if (!item) continue;
        auto division = As<IHTMLElement>(item.Get());
        ComPtr<IUnknown> identity;
        division->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf()));
        if (overLimit.count(identity.Get())) continue;
        ComPtr<IHTMLStyle> style;
        division->get_style(style.GetAddressOf());
        if (!style) continue;
        UniqueBstr markup;
        division->get_innerHTML(markup.put());
        if (rule) rule->read += markup.Length();
        if (markup.Length() > kAdContainerMarkupLimit) {
            ComPtr<IHTMLElement> parent;
            division->get_parentElement(parent.GetAddressOf());
            while (parent) {
                ComPtr<IUnknown> up;
                parent.As(&up);
                if (!overLimit.insert(up.Get()).second) break;
                held.push_back(up);
                ComPtr<IHTMLElement> next;
                parent->get_parentElement(next.GetAddressOf());
                parent = next;
            }
            continue;
        }
        if (rule) {
            rule->judged += markup.Length();
            double fastest = 1e30;
            for (int attempt = 0; attempt < 5; ++attempt) {
                const double start = Seconds();
                IsAdContainer(markup.get(), markup.Length());
                fastest = std::min(fastest, Seconds() - start);
            }
            rule->seconds += fastest;
        }
        if (writes && static_cast<size_t>(i) < writes->size() && (*writes)[i].hidden)
            toHide.push_back(style);
    }
    for (auto style = toHide.rbegin(); style != toHide.rend(); ++style)
        (*style)->put_visibility(hidden);
}

// Both walks: plan null walks to the elements only (tags, get_length, item,
// the phase's interface) and touches no property.
void Walk(IWebBrowser2* browser, const Setting& setting, const Plan* plan, BSTR hidden) {
    ComPtr<IDispatch> dispatch;
    if (FAILED(browser->get_Document(dispatch.GetAddressOf())) || !dispatch) return;
    ComPtr<IHTMLDocument2> document;
    if (FAILED(dispatch.As(&document))) return;
    ComPtr<IHTMLElementCollection> all;
    if (FAILED(document->get_all(all.GetAddressOf())) || !all) return;
    for (const Phase& phase : kPhases) {
        if (!Runs(phase, setting)) continue;
        UniqueVariant name;
        V_VT(name.ptr()) = VT_BSTR;
        V_BSTR(name.ptr()) = SysAllocString(phase.name);
        ComPtr<IDispatch> tagged;
        all->tags(name.get(), tagged.GetAddressOf());
        ComPtr<IHTMLElementCollection> collection;
        if (!tagged || FAILED(tagged.As(&collection))) continue;
        long count = 0;
        if (FAILED(collection->get_length(&count))) continue;
        const std::vector<ElementWrites>* writes = plan ? &Planned(*plan, phase.narrow) : nullptr;
        if (writes && phase.tag == Tag::Div) {
            WalkDivs(collection.Get(), count, writes, hidden, nullptr);
            continue;
        }
        for (long i = 0; i < count; ++i) {
            VARIANT index;
            VariantInit(&index);
            V_VT(&index) = VT_I4;
            V_I4(&index) = i;
            VARIANT none;
            VariantInit(&none);
            ComPtr<IDispatch> item;
            if (FAILED(collection->item(index, none, item.GetAddressOf())) || !item) continue;
            ComPtr<IUnknown> element;
            if (FAILED(item->QueryInterface(*phase.iid, reinterpret_cast<void**>(element.GetAddressOf()))))
                continue;
            if (writes)
                Visit(phase, element.Get(),
                      static_cast<size_t>(i) < writes->size() ? &(*writes)[i] : nullptr);
        }
    }
}

// --- Measuring ----------------------------------------------------------------

struct Times3 {
    double scan = 0;  // ScanPage
    double walk = 0;  // the same document calls
    double reach = 0; // the elements only
    double parse = 0; // making the document from the page (untimed in the others)
    long elements = 0;
};

long AllCount(standin::Document& page) {
    ComPtr<IHTMLElementCollection> all;
    long count = 0;
    if (SUCCEEDED(page.Html()->get_all(all.GetAddressOf())) && all) all->get_length(&count);
    return count;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Medians over runs. Every timed pass gets a freshly parsed page (parsing
// is not timed): a second scan of a top document ends at its first
// rewritten target, which would flatter the scan. The order of the passes
// turns round from run to run, so that none always meets a warm cache, and
// the medians keep out what else the shared machine was doing.
Times3 Measure(const std::string& html, int runs, const Setting& setting, bool reach = true) {
    const Plan plan = MakePlan(html, setting);
    UniqueBstr hidden(SysAllocString(L"hidden"));
    std::vector<double> times[3], parses;
    Times3 result;
    const int passes = reach ? 3 : 2;
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < passes; ++turn) {
            const int which = (turn + run) % passes;
            const double parseStart = Seconds();
            auto page = standin::Document::Parse(html, kUrl);
            parses.push_back(Seconds() - parseStart);
            if (run == 0 && turn == 0) result.elements = AllCount(*page);
            FakeBrowser browser(page->Html().Get());
            sharedState->blockBannerAds = setting.blockBannerAds;
            const double start = Seconds();
            if (which == 0)
                ScanPage(&browser, &browser, setting.inDocumentComplete);
            else
                Walk(&browser, setting, which == 1 ? &plan : nullptr, hidden.get());
            times[which].push_back(Seconds() - start);
        }
    }
    result.scan = Median(times[0]);
    result.walk = Median(times[1]);
    result.reach = Median(times[2]);
    result.parse = Median(parses);
    return result;
}

// --- Pages -------------------------------------------------------------------

std::string NestedPage(int depth) {
    std::string html = "<html><head><title>nested</title></head><body>\n";
    for (int i = 0; i < depth; ++i) {
        const std::string n = std::to_string(i);
        html += "<div class=\"level\"><a href=\"/level" + n + ".html\" target=\"_blank\">Level " + n +
                "</a> <img src=\"/img/level" + n + ".gif\" width=\"40\" height=\"40\"> Some text at level " +
                n + ".\n";
    }
    for (int i = 0; i < depth; ++i) html += "</div>";
    return html + "\n</body></html>\n";
}

// levels DIVs nested around bytes of plain text in lines of words.
std::string TextPage(int levels, size_t bytes) {
    std::string html = "<html><head><title>text</title></head><body>\n";
    for (int i = 0; i < levels; ++i) html += "<div>";
    const char line[] = "The quick brown fox jumps over the lazy dog, again and again and again.\n";
    const size_t start = html.size();
    while (html.size() - start < bytes) html += line;
    for (int i = 0; i < levels; ++i) html += "</div>";
    return html + "\n</body></html>\n";
}

void PrintRow(const char* label, const Times3& t) {
    std::printf("  %-14s %9ld %12.2f %12.2f %12.2f %8.2f\n", label, t.elements, t.scan * 1e3,
                t.walk * 1e3, t.reach * 1e3, t.scan / t.walk);
}

void PrintHeader() {
    std::printf("  %-14s %9s %12s %12s %12s %8s\n", "page", "elements", "scan ms", "walk ms",
                "reach ms", "scan/walk");
}

void PrintGrowth(const char* what, const Times3& small, const Times3& large) {
    std::printf("  %s: elements x%.2f, scan x%.2f, walk x%.2f, the library's own work x%.2f\n", what,
                static_cast<double>(large.elements) / small.elements, large.scan / small.scan,
                large.walk / small.walk, (large.scan - large.walk) / (small.scan - small.walk));
}

void Flat() {
    std::printf("Flat pages: scan (banner ads blocked, DocumentComplete: all ten phases)\n"
                "against a walk making the same document calls (walk), and against one\n"
                "that only reaches the elements (reach); medians of the runs\n\n");
    PrintHeader();
    const struct {
        int elements;
        int runs;
    } sizes[] = {{1000, 61}, {10000, 21}, {100000, 5}};
    std::vector<Times3> all;
    for (const auto& size : sizes) {
        const std::string html = standin::GeneratePage(size.elements, 20240601u + size.elements);
        all.push_back(Measure(html, size.runs, kBlocked));
        PrintRow((std::to_string(size.elements / 1000) + "k").c_str(), all.back());
    }
    std::printf("\n");
    PrintGrowth("10k to 100k", all[1], all[2]);

    const Times3& ten = all[1];
    bench::Figure("Page scan, 10k elements, banner ads blocked", Duration(ten.scan),
                  "walk with the same DOM calls " + Duration(ten.walk), Times(ten.scan / ten.walk),
                  "<= x1.2");
    bench::Figure("  against a walk that reaches the elements only", Duration(ten.scan),
                  "walk without property calls " + Duration(ten.reach),
                  Times(ten.scan / ten.reach), "-");
    bench::Figure("Scan growth, flat page 10k to 100k elements", Duration(all[2].scan),
                  "10k: " + Duration(ten.scan), Times(all[2].scan / ten.scan), "<= x11");
    bench::Figure("  the DOM's own calls (the walk), 10k to 100k", Duration(all[2].walk),
                  "10k: " + Duration(ten.walk), Times(all[2].walk / ten.walk), "-");

    std::printf("\nWith banner ads allowed (phases 1, 2 and 7 to 10):\n");
    PrintHeader();
    for (const auto& size : sizes) {
        const std::string html = standin::GeneratePage(size.elements, 20240601u + size.elements);
        PrintRow((std::to_string(size.elements / 1000) + "k").c_str(),
                 Measure(html, size.runs, kAllowed));
    }
}

// The DIV rule's work on a page: the rule timed on the markup of each DIV
// the scan reads, which is read untimed (the walk with the same calls
// times that).
DivRule RuleOnDivs(const std::string& html) {
    auto page = standin::Document::Parse(html, kUrl);
    ComPtr<IHTMLElementCollection> all;
    page->Html()->get_all(all.GetAddressOf());
    UniqueVariant name;
    V_VT(name.ptr()) = VT_BSTR;
    V_BSTR(name.ptr()) = SysAllocString(L"div");
    ComPtr<IDispatch> tagged;
    all->tags(name.get(), tagged.GetAddressOf());
    ComPtr<IHTMLElementCollection> divs;
    tagged.As(&divs);
    long count = 0;
    divs->get_length(&count);
    DivRule rule;
    WalkDivs(divs.Get(), count, nullptr, nullptr, &rule);
    return rule;
}

void Nested() {
    std::printf("\nNested DIVs, each level a link, an image and text (banner ads blocked).\n"
                "The stand-in's parser nests elements at most 512 deep, as browsers' parsers\n"
                "do; DIVs opened deeper stand side by side at that depth.\n\n");
    PrintHeader();
    const struct {
        int depth;
        int runs;
    } depths[] = {{10, 201}, {100, 21}, {1000, 3}};
    std::vector<Times3> all;
    for (const auto& d : depths) {
        all.push_back(Measure(NestedPage(d.depth), d.runs, kBlocked));
        PrintRow(("depth " + std::to_string(d.depth)).c_str(), all.back());
    }
    std::printf("\n");
    PrintGrowth("depth 10 to 100", all[0], all[1]);
    PrintGrowth("depth 100 to 1000", all[1], all[2]);
    std::printf("\n  The DIV rule alone on the markup the scan reads (the library's part of the\n"
                "  DIV phase), and all the markup the document serialises for the scan:\n");
    double rule[3] = {};
    for (int i = 0; i < 3; ++i) {
        const DivRule divs = RuleOnDivs(NestedPage(depths[i].depth));
        rule[i] = divs.seconds;
        std::printf("  depth %4d: %9.3f ms for %8.1f k characters of markup, %8.1f k read\n",
                    depths[i].depth, rule[i] * 1e3, divs.judged / 1000.0, divs.read / 1000.0);
    }
    for (size_t i = 0; i < all.size(); ++i) {
        bench::Figure("Page scan, nested DIVs, depth " + std::to_string(depths[i].depth),
                      Duration(all[i].scan), "walk with the same DOM calls " + Duration(all[i].walk),
                      Times(all[i].scan / all[i].walk), "<= x1.2");
    }
    bench::Figure("Scan growth, nested DIVs depth 100 to 1000", Duration(all[2].scan),
                  "depth 100: " + Duration(all[1].scan), Times(all[2].scan / all[1].scan), "<= x11");
    bench::Figure("  the DOM's own calls (the walk), depth 100 to 1000", Duration(all[2].walk),
                  "depth 100: " + Duration(all[1].walk), Times(all[2].walk / all[1].walk), "-");
    bench::Figure("  the DIV rule's work, depth 100 to 1000", Duration(rule[2]),
                  "depth 100: " + Duration(rule[1]), Times(rule[2] / rule[1]), "<= x11");
}

// What the window's thread spends on the page: making the document, then
// the scan.
void Big() {
    const int runs = 7;
    std::printf("\n500 nested DIVs around text: the page's time (document made, then\n"
                "scanned) with banner ads blocked and allowed, medians of %d runs; the\n"
                "blocked scan split into the document's own calls (the walk with the same\n"
                "calls) and the library's own work (the rest); the markup the document\n"
                "serialises for the scan: the innermost DIV's, over 64K characters, and\n"
                "none of the DIVs around it, which are left alone unread\n\n",
                runs);
    std::printf("  %-6s %11s %11s %11s %11s %13s\n", "text", "blocked", "allowed", "DOM calls",
                "library", "markup read");
    const size_t megabyte = 1024 * 1024;
    const size_t sizes[] = {megabyte, 2 * megabyte, 4 * megabyte};
    double blocked[3] = {}, allowed = 0, walk = 0, own = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string html = TextPage(500, sizes[i]);
        const Times3 withAds = Measure(html, runs, kBlocked, false);
        const Times3 withoutAds = Measure(html, runs, kAllowed, false);
        blocked[i] = withAds.parse + withAds.scan;
        allowed = withoutAds.parse + withoutAds.scan;
        walk = withAds.walk;
        own = withAds.scan - withAds.walk;
        const DivRule divs = RuleOnDivs(html);
        std::printf("  %3zu MB %9.1f ms %9.1f ms %9.1f ms %9.3f ms %8.2f M chars\n",
                    sizes[i] / megabyte, blocked[i] * 1e3, allowed * 1e3, walk * 1e3, own * 1e3,
                    divs.read / 1e6);
    }
    bench::Figure("4 MB page of 500 nested DIVs, banner ads blocked", Duration(blocked[2]),
                  "ads allowed " + Duration(allowed), Times(blocked[2] / allowed), "-");
    bench::Figure("  of which the scan's DOM calls", Duration(walk), "", "-", "-");
    bench::Figure("  of which the library's own work", Duration(own), "", "-", "-");
    bench::Figure("  the page blocked, 1 MB to 4 MB of text", Duration(blocked[2]),
                  "1 MB: " + Duration(blocked[0]), Times(blocked[2] / blocked[0]),
                  "<= x4 (linear)");
}

}  // namespace

int main(int argc, char** argv) {
    standin::DisableBstrTracking();
    bool flat = argc < 2, nested = argc < 2, big = argc < 2;
    for (int i = 1; i < argc; ++i) {
        flat = flat || std::strcmp(argv[i], "flat") == 0;
        nested = nested || std::strcmp(argv[i], "nested") == 0;
        big = big || std::strcmp(argv[i], "big") == 0;
    }
    if (flat) Flat();
    if (nested) Nested();
    if (big) Big();
    return 0;
}
