// What a blocked popup costs the browser in each of the browsers the
// stand-in plays: how many windows the browser created for it, and how long
// from the page's window.open until the popup is gone (the stand-in idle
// again), through the registered DLL. IE6 announces a window with NewWindow2
// and creates it, and Korvane closes it at its first navigation; IE7 and IE8
// announce it with NewWindow3, where a script's popup is cancelled before it
// exists. The baseline is the IE6 path, measured in the same run.
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
    return 0;
}
