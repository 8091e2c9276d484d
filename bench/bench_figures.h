// The figures a benchmark reports to scripts/bench.sh, one line each beside
// its own printout: what was measured, the figure, the baseline measured in
// the same run, their ratio and the goal.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace bench {

inline double Seconds() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// "1.23 s", "12.3 ms", "4.56 us", "789 ns"; a negative duration (a
// difference lost in the noise) keeps its sign.
inline std::string Duration(double seconds) {
    char text[32];
    const double size = seconds < 0 ? -seconds : seconds;
    if (size >= 1)
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    else if (size >= 1e-3)
        std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
    else if (size >= 1e-6)
        std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
    else
        std::snprintf(text, sizeof text, "%.0f ns", seconds * 1e9);
    return text;
}

inline std::string Times(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "x%.2f", ratio);
    return text;
}

// "@figure<TAB>what<TAB>figure<TAB>baseline<TAB>ratio<TAB>goal". ratio is
// "x1.23", or "-" for a figure whose goal stands on its own.
inline void Figure(const std::string& what, const std::string& figure, const std::string& baseline,
                   const std::string& ratio, const std::string& goal) {
    std::printf("@figure\t%s\t%s\t%s\t%s\t%s\n", what.c_str(), figure.c_str(), baseline.c_str(),
                ratio.c_str(), goal.c_str());
}

}  // namespace bench
