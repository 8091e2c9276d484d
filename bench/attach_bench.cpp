// What loading Korvane.dll costs a program the keyboard hook reaches: the
// program's start and end with the library's attach and detach, against
// the same program without the library, measured in the same run, in a
// first process (no other has the library) and in a later one (a browser
// holds it). Every program the hook reaches already has a window and a
// message loop when the library comes, and so does the one measured here.
//
// Then the same with the broker running (KorvaneBroker.exe beside the DLL),
// which holds the library, the keyboard hook and the icon: a first and a
// later browser process then set neither.
//
// Then where the time goes: the imported DLLs the loader brings in, each
// step of attach and detach replayed with the library's own code
// (korvane_attach_steps), and what is left for first use.
//
//   korvane_attach_bench [rounds [dll]]
//
// The DLL is the build's Korvane.dll unless another is named (a Windows
// path), to set two builds side by side. Built 64-bit (build/x64), it
// measures the 64-bit library in a 64-bit program, as in Internet
// Explorer's 64-bit tabs; the broker, a 32-bit program, is not measured
// there.
// Runs itself as the measured program ("--program [dll]"), as the DLL
// loader ("--imports dll") and as the browser that holds the library
// ("--hold dll ready release").
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "bench_program.h"

namespace {

// What a child reported: steps in the order they came, same names added up.
using Report = std::vector<std::pair<std::string, double>>;

double& At(Report& report, const std::string& name) {
    for (auto& step : report)
        if (step.first == name) return step.second;
    report.emplace_back(name, 0.0);
    return report.back().second;
}

std::string Directory(bool parent) {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path);
    dir = dir.substr(0, dir.find_last_of('\\'));
    if (parent) dir = dir.substr(0, dir.find_last_of('\\'));
    return dir + "\\";
}

// Runs a child, returns how long it lived (ms, -1 on failure) and what it
// reported: "<name>\t<ms>" lines, same names added up.
double RunChild(const std::string& commandLine, Report* report) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const double start = bench::Milliseconds();
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &info);
    CloseHandle(writeEnd);
    std::string output;
    char buffer[512];
    DWORD read = 0;
    while (started && ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read)
        output.append(buffer, read);
    CloseHandle(readEnd);
    if (!started) return -1;
    WaitForSingleObject(info.hProcess, 60000);
    const double lived = bench::Milliseconds() - start;
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    size_t at = 0;
    while (report && at < output.size()) {
        const size_t end = std::min(output.find('\n', at), output.size());
        const std::string entry = output.substr(at, end - at);
        const size_t tab = entry.find('\t');
        if (tab != std::string::npos) At(*report, entry.substr(0, tab)) += std::atof(entry.c_str() + tab + 1);
        at = end + 1;
    }
    return code == 0 ? lived : -1;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median of each step over the runs; a step missing from a run counts 0.
Report Medians(std::vector<Report> runs) {
    Report names;
    for (Report& run : runs)
        for (const auto& step : run) At(names, step.first);
    Report medians;
    for (const auto& name : names) {
        std::vector<double> values;
        for (Report& run : runs) values.push_back(At(run, name.first));
        medians.emplace_back(name.first, Median(values));
    }
    return medians;
}

// The measured program: a window and its messages first, then the library.
int Program(const char* dll) {
    HWND window = bench::OpenProgramWindow();
    if (dll) {
        HMODULE library = nullptr;
        {
            bench::Step step("attach");
            library = LoadLibraryA(dll);
        }
        if (!library) return 2;
        bench::PumpUntilIdle();
        // The library keeps itself loaded until the process ends; its
        // detach runs then, inside the process's end.
        FreeLibrary(library);
    }
    bench::CloseProgramWindow(window);
    return 0;
}

// Loads each DLL that the library imports, in the order of its import
// table, as the loader does for it; then the ones the library loads on
// first use, from the system folder.
int Imports(const char* dll) {
    HWND window = bench::OpenProgramWindow();
    HMODULE image = LoadLibraryExA(dll, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!image) return 2;
    auto* base = reinterpret_cast<BYTE*>(image);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         directory.VirtualAddress && entry->Name; ++entry)
        names.push_back(reinterpret_cast<const char*>(base + entry->Name));
    for (const std::string& name : names) {
        bench::Step step("import: " + name);
        LoadLibraryA(name.c_str());
    }
    for (const char* name : {"winmm.dll", "comdlg32.dll"}) {
        char folder[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) continue;
        const std::string path = std::string(folder, length) + "\\" + name;
        bench::Step step(std::string("use: ") + name);
        LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    bench::CloseProgramWindow(window);
    return 0;
}

// A browser that has the library loaded, so the measured programs are
// later processes.
int Hold(const char* dll, const char* ready, const char* release) {
    HWND window = bench::OpenProgramWindow();
    HMODULE library = LoadLibraryA(dll);
    HANDLE readyEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready);
    HANDLE releaseEvent = OpenEventA(SYNCHRONIZE, FALSE, release);
    if (!library || !readyEvent || !releaseEvent) return 2;
    SetEvent(readyEvent);
    while (MsgWaitForMultipleObjects(1, &releaseEvent, FALSE, 120000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
        bench::PumpUntilIdle();
    bench::CloseProgramWindow(window);
    return 0;
}

struct Phase {
    // difference: each run with the library less the run without it just
    // before, so that slower and faster stretches of the machine cancel.
    std::vector<double> baseline, loaded, difference;
    std::vector<Report> attach, imports, steps;
};

void Measure(Phase& phase, int rounds, const std::string& self, const std::string& dll,
             const std::string& steps, const char* which) {
    // Interleaved, so that whatever else the machine does falls on all.
    for (int i = 0; i < rounds; ++i) {
        phase.baseline.push_back(RunChild(self + " --program", nullptr));
        Report attach;
        phase.loaded.push_back(RunChild(self + " --program " + dll, &attach));
        phase.difference.push_back(phase.loaded.back() - phase.baseline.back());
        phase.attach.push_back(attach);
        Report imports;
        RunChild(self + " --imports " + dll, &imports);
        phase.imports.push_back(imports);
        Report replay;
        RunChild(steps + " " + which, &replay);
        phase.steps.push_back(replay);
    }
}

// Runs the measured programs with another process holding the library
// (a browser, or the broker), started by commandLine and ready once
// ready() says so.
template <typename Ready>
bool MeasureWhileHeld(Phase& phase, int rounds, const std::string& self, const std::string& dll,
                      const std::string& steps, const char* which, const std::string& commandLine,
                      Ready ready) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &holder))
        return false;
    const double since = bench::Milliseconds();
    while (!ready() && bench::Milliseconds() - since < 30000) Sleep(20);
    const bool held = ready();
    if (held) Measure(phase, rounds, self, dll, steps, which);
    CloseHandle(holder.hThread);
    CloseHandle(holder.hProcess);
    return held;
}

void PrintRow(const char* name, double first, double firstBase, double later, double laterBase) {
    std::printf("  %-48s %8.2f ms %6.1f %%   %8.2f ms %6.1f %%\n", name, first, 100.0 * first / firstBase,
                later, 100.0 * later / laterBase);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--program") == 0) return Program(argc > 2 ? argv[2] : nullptr);
    if (argc > 2 && std::strcmp(argv[1], "--imports") == 0) return Imports(argv[2]);
    if (argc > 4 && std::strcmp(argv[1], "--hold") == 0) return Hold(argv[2], argv[3], argv[4]);

    const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
    const std::string self = "\"" + Directory(false) + "korvane_attach_bench.exe\"";
    const std::string steps = "\"" + Directory(false) + "korvane_attach_steps.exe\"";
    const std::string dll = "\"" + (argc > 2 ? std::string(argv[2]) : Directory(true) + "Korvane.dll") + "\"";
    // The build's broker lies with a copy of the library in broker\: a
    // library with a broker beside it leaves the hook and the icon to it.
    const std::string broker = "\"" + Directory(true) + "broker\\KorvaneBroker.exe\"";
    const std::string brokerDll = "\"" + Directory(true) + "broker\\Korvane.dll\"";

    Phase first, later;
    Measure(first, rounds, self, dll, steps, "first");
    {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "KorvaneAttachBenchReady");
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "KorvaneAttachBenchRelease");
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION holder{};
        std::string line = self + " --hold " + dll + " KorvaneAttachBenchReady KorvaneAttachBenchRelease";
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &holder) ||
            WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0) {
            std::printf("the holding browser did not start\n");
            return 1;
        }
        Measure(later, rounds, self, dll, steps, "later");
        SetEvent(release);
        WaitForSingleObject(holder.hProcess, 30000);
        CloseHandle(holder.hThread);
        CloseHandle(holder.hProcess);
        CloseHandle(ready);
        CloseHandle(release);
    }

    // With the broker: first alone beside it, then beside a browser too.
    const bool is64Bit = sizeof(void*) == 8;
    Phase brokerFirst, brokerLater;
    const auto brokerRuns = [] { return FindWindowA("KorvaneBroker", nullptr) != nullptr; };
    bool brokerMeasured = !is64Bit && MeasureWhileHeld(brokerFirst, rounds, self, brokerDll, steps,
                                                       "broker-first", broker, brokerRuns);
    if (brokerMeasured) {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "KorvaneAttachBenchReady2");
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "KorvaneAttachBenchRelease2");
        brokerMeasured = MeasureWhileHeld(
            brokerLater, rounds, self, brokerDll, steps, "broker-later",
            self + " --hold " + brokerDll + " KorvaneAttachBenchReady2 KorvaneAttachBenchRelease2",
            [ready] { return WaitForSingleObject(ready, 0) == WAIT_OBJECT_0; });
        SetEvent(release);
        CloseHandle(ready);
        CloseHandle(release);
    }
    if (!is64Bit) RunChild(broker + " /stop", nullptr);

    const double firstBase = Median(first.baseline), laterBase = Median(later.baseline);
    const double firstLoaded = Median(first.loaded), laterLoaded = Median(later.loaded);
    std::printf("Korvane.dll in a program with a window and a message loop, median of %d runs\n", rounds);
    std::printf("baseline: the same program's own start and end, without the library, same run\n\n");
    std::printf("  %-48s %-22s %s\n", "", "first process", "later process");
    std::printf("  %-48s %8.2f ms %8s   %8.2f ms\n", "program start and end (baseline)", firstBase, "",
                laterBase);
    std::printf("  %-48s %8.2f ms %6.2f x   %8.2f ms %6.2f x\n", "with the library", firstLoaded,
                firstLoaded / firstBase, laterLoaded, laterLoaded / laterBase);
    PrintRow("attach and detach (run by run difference)", Median(first.difference), firstBase,
             Median(later.difference), laterBase);
    Report firstAttach = Medians(first.attach), laterAttach = Medians(later.attach);
    const double firstAttachTime = At(firstAttach, "attach"), laterAttachTime = At(laterAttach, "attach");
    PrintRow("attach (LoadLibrary, timed inside the program)", firstAttachTime, firstBase,
             laterAttachTime, laterBase);

    Report firstSteps = Medians(first.imports), laterSteps = Medians(later.imports);
    for (const auto& step : Medians(first.steps)) At(firstSteps, step.first) = step.second;
    for (const auto& step : Medians(later.steps)) At(laterSteps, step.first) = step.second;
    const char* sections[][2] = {{"import: ", "attach: DLLs the loader brings in with the library"},
                                 {"attach: ", "attach, step by step"},
                                 {"detach: ", "detach, step by step"},
                                 {"use: ", "not at attach: loaded or prepared at first use"}};
    // What LoadLibrary took beyond the DLLs and the steps: mapping and
    // relocating the library, and the runtime's start-up.
    double firstRest = firstAttachTime, laterRest = laterAttachTime;
    for (const auto& section : sections) {
        std::printf("\n%s (ms, and %% of the baseline)\n", section[1]);
        const size_t prefix = std::strlen(section[0]);
        const bool atAttach = section[0][0] == 'i' || section[0][0] == 'a';
        for (const auto& step : firstSteps) {
            if (step.first.compare(0, prefix, section[0]) != 0) continue;
            const double laterStep = At(laterSteps, step.first);
            PrintRow(step.first.c_str() + prefix, step.second, firstBase, laterStep, laterBase);
            if (atAttach) firstRest -= step.second, laterRest -= laterStep;
        }
        if (section[0][0] == 'a')
            PrintRow("the rest: mapping, relocations, runtime start-up", firstRest, firstBase, laterRest,
                     laterBase);
    }

    const double firstDifference = Median(first.difference), laterDifference = Median(later.difference);
    const std::string bits = is64Bit ? ", 64-bit" : "";
    bench::Figure("Attach + detach, first process" + bits, bench::Duration(firstDifference / 1e3),
                  "program start and end " + bench::Duration(firstBase / 1e3),
                  bench::Times((firstBase + firstDifference) / firstBase), "<= x1.05");
    bench::Figure("Attach + detach, later process" + bits, bench::Duration(laterDifference / 1e3),
                  "program start and end " + bench::Duration(laterBase / 1e3),
                  bench::Times((laterBase + laterDifference) / laterBase), "<= x1.05");
    if (is64Bit) return 0;
    if (brokerMeasured) {
        const struct {
            const char* what;
            Phase& phase;
        } withBroker[] = {{"Attach + detach, first process, broker running", brokerFirst},
                          {"Attach + detach, later process, broker running", brokerLater}};
        for (const auto& row : withBroker) {
            const double base = Median(row.phase.baseline), difference = Median(row.phase.difference);
            std::printf("  %-48s %8.2f ms %6.1f %%\n", row.what, difference, 100.0 * difference / base);
            bench::Figure(row.what, bench::Duration(difference / 1e3),
                          "program start and end " + bench::Duration(base / 1e3),
                          bench::Times((base + difference) / base), "<= x1.05");
        }
    } else {
        std::printf("the broker did not start: no figures with it\n");
    }
    // What the loader brings in with the library; winmm and comdlg32 only
    // ever come at first use.
    for (const char* name : {"winmm.dll", "comdlg32.dll"}) {
        double atAttach = 0;
        for (const auto& step : firstSteps)
            if (_stricmp(step.first.c_str(), (std::string("import: ") + name).c_str()) == 0)
                atAttach = step.second;
        bench::Figure(std::string("  loading ") + name + " at attach", bench::Duration(atAttach / 1e3),
                      "at first use " + bench::Duration(At(firstSteps, std::string("use: ") + name) / 1e3),
                      "-", "0");
    }
    return 0;
}
