// Real pages that nobody here wrote, shown one after another in one window
// of the browser stand-in with Korvane.dll registered and loaded as the
// browser loads it (banner ads blocked, so every phase of the scan runs),
// against each page alone in a window of a fresh browser, and against the
// same window without the helper.
//
//   korvane_real_pages_bench <site folder>
//
// The pages are <site>\pages\*.html, in the order of their names, shown as
// http://pages/<name>; scripts/bench.sh links the largest pages of the
// documentation installed on the machine there. Each page is shown and then
// left for about:blank, alone as in the window: the scan the helper makes
// of the page the window is leaving (at DownloadComplete) belongs to that
// page, so both sides do the same work and the ratio shows only what a
// window's history adds. Each figure is the median of a few runs, the
// runs alternating which side goes first. The exit code is 1 when a step
// ran into the stand-in's step limit or a ratio is over its goal.
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

namespace {

constexpr int kRuns = 3;
// One window showing the pages may take this many times as long as the
// pages each alone: its history must not make a page cost more.
constexpr double kHistoryBound = 1.2;
// With the helper the window may take this many times as long as without
// it, as for the hostile-input suite's pages.
constexpr double kHelperBound = 10.0;

int stepLimitsHit = 0;

std::vector<std::string> PageNames(const std::string& site) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((site + "\\pages\\*.html").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

ULONGLONG FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Step(standin::Session& session, bool done, const std::string& what) {
    if (done) return true;
    ++stepLimitsHit;
    std::printf("  %s: %s\n", what.c_str(), session.LastError().c_str());
    return false;
}

// Shows the pages one after another in one window of a fresh browser, and
// leaves the last for about:blank; seconds from the browser's start to its
// end. perPage, when given, gets the seconds each page took in the window.
double OneWindow(const std::string& site, const std::vector<std::string>& urls, bool withHelper,
                 std::vector<double>* perPage = nullptr) {
    standin::SessionOptions options;
    options.siteFolder = site;
    if (withHelper)
        options.onlyHelpers.push_back(CLSID_ViewSource);
    else
        options.loadHelpers = false;
    const double start = bench::Seconds();
    {
        standin::Session session(options);
        double before = bench::Seconds();
        for (size_t i = 0; i < urls.size(); ++i) {
            const bool shown = i == 0 ? session.Open(urls[i]) != 0 : session.Load("w1", urls[i]);
            if (!Step(session, shown, urls[i])) break;
            const double now = bench::Seconds();
            if (perPage) perPage->push_back(now - before);
            before = now;
        }
        Step(session, session.Load("w1", "about:blank"), "about:blank");
    }
    return bench::Seconds() - start;
}

double EachAlone(const std::string& site, const std::vector<std::string>& urls) {
    double total = 0;
    for (const std::string& url : urls) total += OneWindow(site, {url}, true);
    return total;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::string site = argc > 1 ? argv[1] : "";
    const std::vector<std::string> names = site.empty() ? std::vector<std::string>() : PageNames(site);
    if (names.empty()) {
        std::printf("No real pages in %s\\pages: nothing measured\n", site.c_str());
        bench::Figure("Real pages in one window", "no pages", "-", "-", "<= x1.2");
        return 0;
    }
    korvane::test::InstalledKorvane korvane;
    if (!bench::InstallQuietly(korvane)) return 1;
    korvane.Shared().blockBannerAds = 1;

    std::vector<std::string> urls;
    ULONGLONG bytes = 0;
    for (const std::string& name : names) {
        urls.push_back("http://pages/" + name);
        bytes += FileSize(site + "\\pages\\" + name);
    }
    std::printf("%zu real pages, %.1f MB in all, shown and left in one window and each alone\n",
                names.size(), static_cast<double>(bytes) / (1 << 20));
    std::printf("(banner ads blocked; median of %d runs each)\n\n", kRuns);

    std::vector<double> together, alone, bare;
    std::vector<double> perPage;
    for (int run = 0; run < kRuns; ++run) {
        if (run % 2 == 0) {
            together.push_back(OneWindow(site, urls, true, run == 0 ? &perPage : nullptr));
            alone.push_back(EachAlone(site, urls));
        } else {
            alone.push_back(EachAlone(site, urls));
            together.push_back(OneWindow(site, urls, true));
        }
        bare.push_back(OneWindow(site, urls, false));
        std::printf("run %d: one window %.2f s, each alone %.2f s, one window without the helper %.2f s\n",
                    run + 1, together.back(), alone.back(), bare.back());
        std::fflush(stdout);
    }
    std::printf("\nEach page in the window of the first run, with the scan of the page it left\n"
                "(a window whose history made pages cost more would show it here):\n");
    for (size_t i = 0; i < perPage.size(); ++i)
        std::printf("  %-40s %8.2f s\n", names[i].c_str(), perPage[i]);

    const double window = Median(together);
    const double each = Median(alone);
    const double without = Median(bare);
    const std::string count = std::to_string(names.size());
    bench::Figure("Real pages: " + count + " in one window, shown and left", bench::Duration(window),
                  "each alone " + bench::Duration(each), bench::Times(window / each), "<= x1.2");
    bench::Figure("Real pages: " + count + " in one window, with the helper", bench::Duration(window),
                  "without the helper " + bench::Duration(without), bench::Times(window / without),
                  "<= x10");
    korvane.Shared().blockBannerAds = 0;
    std::printf("\n%d steps ran into the step limit\n", stepLimitsHit);
    const bool over = window > kHistoryBound * each || window > kHelperBound * without;
    return stepLimitsHit || over ? 1 : 0;
}
