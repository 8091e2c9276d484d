// What a blocked popup costs the browser in each of the browsers the
// stand-in plays: how many windows the browser created for it, and how long
// from the page's window.open until the popup is gone (the stand-in idle
// again), through the registered DLL. IE6 announces a window with NewWindow2
// and creates it, and Korvane closes it at its first navigation; IE7 and IE8
// announce it with NewWindow3, where a script's popup is cancelled before it
// exists. The baseline is the IE6 path, measured in the same run.
//
// Then what looking at the page costs a popup a click started: IE7 lets
// such a window through when the page holds a link to its address, and
// looks at the page for one. A click handler's popup, to an address no
// link names, on pages of 10,000 and 100,000 links against a page without
// any: the look stops after 10,000 elements.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "bench_korvane.h"
#include "browser/session.h"
#include "korvane_idl.h"
#include "support/installed_korvane.h"
#include "support/test_support.h"

namespace {

constexpr int kPopups = 20;

struct Popups {
    const char* name;
    standin::BrowserProfile profile;
    std::vector<double> seconds;  // window.open until the browser is idle, popup by popup
    int blocked = 0;              // announcements cancelled and windows closed at their first navigation
    int created = 0;              // windows the browser created for the page
    std::string failure;
};

void Measure(Popups& popups, const std::string& site) {
    standin::SessionOptions options;
    options.siteFolder = site;
    options.onlyHelpers.push_back(CLSID_ViewSource);
    options.profile = popups.profile;
    standin::Session session(options);
    if (session.Open("http://news.example/index.html") <= 0) {
        popups.failure = session.LastError();
        return;
    }
    for (int i = 0; i < kPopups; ++i) {
        const std::string url = "http://ads.example/pop.html?" + std::string(popups.name) + std::to_string(i);
        const double start = bench::Seconds();
        if (!session.ScriptOpen("w1", url, "")) {
            popups.failure = session.LastError();
            return;
        }
        popups.seconds.push_back(bench::Seconds() - start);
    }
    for (const standin::WindowInfo& window : session.Windows()) {
        if (!window.openedByPage) continue;
        ++popups.created;
        if (window.firstNavigationCancelled && !window.open) ++popups.blocked;
    }
    for (const standin::TimelineEntry& entry : session.timeline().Entries())
        if (entry.kind == standin::TimelineKind::NewWindowCancelled) ++popups.blocked;
}

// A page's click handler opens a window to an address no link names, 20
// times, in IE7: the median time until it is gone; 0 when one was not
// blocked.
double ClickPopupMedian(const std::string& site, const std::string& page) {
    standin::SessionOptions options;
    options.siteFolder = site;
    options.onlyHelpers.push_back(CLSID_ViewSource);
    options.profile = standin::BrowserProfile::IE7;
    options.stepTimeoutMs = 120000;
    standin::Session session(options);
    if (session.Open("http://news.example/" + page) <= 0) return 0;
    standin::ScriptCall click;
    click.fromClick = true;
    std::vector<double> seconds;
    for (int i = 0; i < kPopups; ++i) {
        const std::string url = "http://ads.example/pop.html?click" + std::to_string(i);
        const double start = bench::Seconds();
        if (!session.ScriptOpen("w1", url, "", false, click)) return 0;
        seconds.push_back(bench::Seconds() - start);
    }
    int blocked = 0;
    for (const standin::WindowInfo& window : session.Windows())
        if (window.openedByPage && window.firstNavigationCancelled && !window.open) ++blocked;
    if (blocked != kPopups) return 0;
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

std::string LinksPage(int links) {
    std::string html = "<html><body>";
    for (int i = 0; i < links; ++i)
        html += "<a href=\"story.html?" + std::to_string(i) + "\" target=\"_blank\">" + std::to_string(i) + "</a>";
    return html + "</body></html>";
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    korvane::test::TempDirectory site;
    korvane::test::WriteSitePage(site.path(), "news.example/index.html", "<html><body>News</body></html>");
    korvane::test::WriteSitePage(site.path(), "ads.example/pop.html", "<html><body>Buy!</body></html>");
    korvane::test::WriteSitePage(site.path(), "news.example/links10k.html", LinksPage(10000).c_str());
    korvane::test::WriteSitePage(site.path(), "news.example/links100k.html", LinksPage(100000).c_str());
    korvane::test::InstalledKorvane korvane;
    if (!bench::InstallQuietly(korvane)) return 1;
    korvane.Shared().helperActive = 1;
    korvane.Shared().popupsAllowed = 0;

    Popups profiles[] = {{"ie6", standin::BrowserProfile::IE6},
                         {"ie7", standin::BrowserProfile::IE7},
                         {"ie8", standin::BrowserProfile::IE8}};
    for (Popups& popups : profiles) Measure(popups, site.path());

    std::printf("A script's popup after the page completed, %d times in each browser\n"
                "(window.open until the popup is gone, median; windows the browser created)\n\n",
                kPopups);
    bool ok = true;
    for (const Popups& popups : profiles) {
        if (!popups.failure.empty()) {
            std::printf("  %s: %s\n", popups.name, popups.failure.c_str());
            ok = false;
            continue;
        }
        std::printf("  %s  %s, %d blocked, %d windows created\n", popups.name,
                    bench::Duration(Median(popups.seconds)).c_str(), popups.blocked, popups.created);
        ok = ok && popups.blocked == kPopups;
    }
    if (!ok) return 1;
    const double ie6 = Median(profiles[0].seconds);
    for (const Popups& popups : profiles) {
        char perPopup[32];
        std::snprintf(perPopup, sizeof perPopup, "%.2f", static_cast<double>(popups.created) / popups.blocked);
        bench::Figure(std::string("Windows created per blocked popup, ") + popups.name, perPopup,
                      "", "-", popups.profile == standin::BrowserProfile::IE6 ? "1" : "0");
    }
    for (const Popups& popups : {profiles[1], profiles[2]}) {
        const double median = Median(popups.seconds);
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, "x%.3f", median / ie6);  // far below x0.01
        bench::Figure(std::string("Script popup to gone, ") + popups.name + ", median of 20",
                      bench::Duration(median), "the IE6 path " + bench::Duration(ie6), ratio, "<= x1");
    }

    const double none = ClickPopupMedian(site.path(), "index.html");
    const double tenThousand = ClickPopupMedian(site.path(), "links10k.html");
    const double hundredThousand = ClickPopupMedian(site.path(), "links100k.html");
    std::printf("\nA click handler's popup to an address no link names, IE7 (median of %d)\n"
                "  page without links %s, 10,000 links %s, 100,000 links %s\n",
                kPopups, bench::Duration(none).c_str(), bench::Duration(tenThousand).c_str(),
                bench::Duration(hundredThousand).c_str());
    if (none <= 0 || tenThousand <= 0 || hundredThousand <= 0) {
        std::printf("  a popup was not blocked\n");
        return 1;
    }
    bench::Figure("Click handler's popup, ie7, page of 10,000 links", bench::Duration(tenThousand),
                  "no links " + bench::Duration(none), bench::Times(tenThousand / none), "-");
    bench::Figure("  the same, 100,000 links (the look stops at 10,000)", bench::Duration(hundredThousand),
                  "10,000 links " + bench::Duration(tenThousand), bench::Times(hundredThousand / tenThousand),
                  "<= x1.5");
    return 0;
}
