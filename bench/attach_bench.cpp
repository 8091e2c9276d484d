// What loading the library costs a process: the time to start and end a
// program that loads Korvane.dll (its attach and detach run), against the
// same program that loads nothing, measured in the same run.
//
//   korvane_attach_bench [rounds]
//
// Runs itself as the child: "korvane_attach_bench --child [dll]".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Directory(bool parent) {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path);
    dir = dir.substr(0, dir.find_last_of('\\'));
    if (parent) dir = dir.substr(0, dir.find_last_of('\\'));
    return dir + "\\";
}

double RunMilliseconds(const std::string& commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return -1;
    WaitForSingleObject(info.hProcess, 60000);
    QueryPerformanceCounter(&end);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) {
        if (argc > 2) {
            HMODULE dll = LoadLibraryA(argv[2]);
            if (!dll) return 2;
            FreeLibrary(dll);
        }
        return 0;
    }
    const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
    const std::string self = "\"" + Directory(false) + "korvane_attach_bench.exe\" --child";
    const std::string dll = "\"" + Directory(true) + "Korvane.dll\"";
    std::vector<double> without, with;
    // Interleaved, so that whatever else the machine does falls on both.
    for (int i = 0; i < rounds; ++i) {
        without.push_back(RunMilliseconds(self));
        with.push_back(RunMilliseconds(self + " " + dll));
    }
    const double bare = Median(without);
    const double loaded = Median(with);
    std::printf("process start and end, median of %d runs each\n", rounds);
    std::printf("  without the library (baseline): %8.1f ms\n", bare);
    std::printf("  loading Korvane.dll:            %8.1f ms\n", loaded);
    std::printf("  ratio:                          %8.2f x\n", loaded / bare);
    std::printf("  attach and detach:              %8.1f ms\n", loaded - bare);
    return 0;
}
