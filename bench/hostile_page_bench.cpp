// What each page of the hostile-input suite costs with the helper: the page
// opened in a window of the browser stand-in with Korvane.dll registered and
// loaded as the browser loads it (banner ads blocked, so every phase of the
// scan runs), against the same page in a window with no helper at all, in
// the same run. Opening counts from the new window to the page's
// DocumentComplete: parsing, every event, and the scans the helper makes.
// Prints the median of a few runs of each, their ratio, and whether the
// ratio stays within the bound a page may cost with the helper; the exit
// code is 1 when one does not.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench_figures.h"
#include "bench_korvane.h"
#include "bench_program.h"
#include "browser/session.h"
#include "hostile/hostile_pages.h"
#include "korvane_idl.h"
#include "support/installed_korvane.h"

using korvane::test::HostilePage;

namespace {

constexpr int kRuns = 3;
// A page may take this many times as long to open with the helper.
constexpr double kBound = 10.0;

// Opens the page in a new window and shows it there as many times as the
// page says; milliseconds until the last showing completed.
double OpenOnce(const std::string& site, const HostilePage& page, bool withHelper) {
    standin::SessionOptions options;
    options.siteFolder = site;
    options.stepTimeoutMs = 600000;
    if (withHelper)
        options.onlyHelpers.push_back(CLSID_ViewSource);
    else
        options.loadHelpers = false;
    standin::Session session(options);
    const double start = bench::Milliseconds();
    if (!session.Open(page.url))
        std::printf("  %s could not be opened: %s\n", page.url.c_str(), session.LastError().c_str());
    for (int showing = 1; showing < page.timesInOneWindow; ++showing)
        if (!session.Load("w1", page.Address(showing)))
            std::printf("  %s could not be shown: %s\n", page.Address(showing).c_str(), session.LastError().c_str());
    return bench::Milliseconds() - start;
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    korvane::test::InstalledKorvane korvane;
    if (!bench::InstallQuietly(korvane)) return 1;
    korvane.Shared().blockBannerAds = 1;
    korvane::test::TempDirectory site;

    std::printf("Hostile pages opened with the helper against the same page without it\n");
    std::printf("(banner ads blocked; median of %d runs each; bound %.0fx)\n\n", kRuns, kBound);
    std::printf("%-24s %12s %12s %8s\n", "page", "without ms", "with ms", "ratio");
    int over = 0;
    for (const HostilePage& page : korvane::test::HostilePages()) {
        for (const auto& file : page.files) korvane::test::WriteSitePage(site.path(), file.first, file.second);
        std::vector<double> without, with;
        for (int run = 0; run < kRuns; ++run) {
            // Alternate which goes first, so neither always meets a warm cache.
            const bool helperFirst = run % 2 == 1;
            (helperFirst ? with : without).push_back(OpenOnce(site.path(), page, helperFirst));
            (helperFirst ? without : with).push_back(OpenOnce(site.path(), page, !helperFirst));
        }
        const double bare = Median(without);
        const double helped = Median(with);
        const bool within = helped <= kBound * bare;
        if (!within) ++over;
        std::printf("%-24s %12.1f %12.1f %8.2f%s\n", page.name.c_str(), bare, helped, helped / bare,
                    within ? "" : "  over the bound");
        bench::Figure("Hostile page: " + page.name, bench::Duration(helped / 1e3),
                      "without the helper " + bench::Duration(bare / 1e3), bench::Times(helped / bare),
                      "<= x" + std::to_string(static_cast<int>(kBound)));
        std::fflush(stdout);
    }
    korvane.Shared().blockBannerAds = 0;
    std::printf("\n%d of the pages over the bound\n", over);
    return over ? 1 : 0;
}
