// What a new browser window pays for Korvane's helper: from CoCreateInstance
// through SetSite, in which the helper connects its sink to the window's
// events, timed by the browser stand-in as the browser times an add-on's
// load. Korvane.dll is registered with regsvr32 and already loaded, as in a
// browser that has shown a window; then ten new windows each create and
// site their helper on their own thread, and the mean of the ten is the
// figure. The baseline is the stand-in's recording helper, a COM server
// whose SetSite does nothing but connect its sink, loaded the same way in
// the same run.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "browser/session.h"
#include "korvane_idl.h"
#include "recorder_api.h"
#include "support/installed_korvane.h"
#include "support/test_support.h"

namespace {

constexpr int kWindows = 10;

struct Loads {
    std::vector<double> milliseconds;  // CoCreateInstance + SetSite, window by window
    int connected = 0;                 // windows whose events reached a sink
    std::string failure;
};

Loads OpenWindows(const CLSID& helper, const std::string& site) {
    standin::SessionOptions options;
    options.siteFolder = site;
    options.onlyHelpers.push_back(helper);
    Loads loads;
    standin::Session session(options);
    for (int i = 0; i < kWindows; ++i) {
        if (session.Open("about:blank") <= 0) {
            loads.failure = session.LastError();
            return loads;
        }
    }
    std::vector<double> byWindow(kWindows + 1, 0.0);
    for (const standin::TimelineEntry& entry : session.timeline().Entries()) {
        if (entry.window < 1 || entry.window > kWindows) continue;
        if (entry.kind == standin::TimelineKind::HelperCreated ||
            entry.kind == standin::TimelineKind::SiteSet)
            byWindow[entry.window] += entry.milliseconds;
    }
    for (const standin::WindowInfo& window : session.Windows()) {
        if (window.number < 1 || window.number > kWindows) continue;
        if (window.helpersSited == 1 && window.sinks >= 1) ++loads.connected;
        loads.milliseconds.push_back(byWindow[window.number]);
    }
    return loads;
}

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double value : values) sum += value;
    return values.empty() ? 0 : sum / values.size();
}

HRESULT CallRecorder(const char* name) {
    HMODULE recorder = GetModuleHandleA("korvane_recorder.dll");
    auto* function = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(recorder ? GetProcAddress(recorder, name) : nullptr));
    return function ? function() : E_FAIL;
}

void Print(const char* name, const Loads& loads) {
    std::printf("  %-28s", name);
    for (double ms : loads.milliseconds) std::printf(" %6.2f", ms);
    std::printf("   mean %6.2f ms, max %6.2f ms, %d of %d connected\n", Mean(loads.milliseconds),
                loads.milliseconds.empty()
                    ? 0.0
                    : *std::max_element(loads.milliseconds.begin(), loads.milliseconds.end()),
                loads.connected, kWindows);
}

}  // namespace

int main() {
    korvane::test::TempDirectory site;
    korvane::test::InstalledKorvane korvane;
    if (!korvane.ok()) {
        std::printf("Korvane.dll could not be installed: %s\n", korvane.Failure().c_str());
        return 1;
    }
    korvane.Shared().helperActive = 1;
    if (!LoadLibraryA("korvane_recorder.dll") || FAILED(CallRecorder("DllRegisterServer"))) {
        std::printf("the recording helper could not be registered\n");
        return 1;
    }
    RecorderConfig plain{};
    RecorderConfigure(&plain);

    const Loads recorder = OpenWindows(CLSID_RecordingHelper, site.path());
    const Loads helper = OpenWindows(CLSID_ViewSource, site.path());
    CallRecorder("DllUnregisterServer");
    if (!helper.failure.empty() || !recorder.failure.empty()) {
        std::printf("a window did not open: %s%s\n", helper.failure.c_str(), recorder.failure.c_str());
        return 1;
    }

    std::printf("A new window's helper, CoCreateInstance through SetSite to the connected sink\n"
                "(ms, window by window; the DLL is already loaded, as after the first window)\n\n");
    Print("recording helper (baseline)", recorder);
    Print("Korvane's ViewSource", helper);
    const double mean = Mean(helper.milliseconds);
    const double base = Mean(recorder.milliseconds);
    bench::Figure("SetSite of a new window's helper, mean of 10", bench::Duration(mean / 1e3),
                  "a helper that only connects " + bench::Duration(base / 1e3),
                  bench::Times(mean / base), "<= 10 ms");
    return helper.connected == kWindows ? 0 : 1;
}
