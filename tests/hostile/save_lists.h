// The white lists that the killed saves write, shared by the test and the
// process it kills: list `serial` of a run, 800 entries of up to 259 bytes
// or 40 short ones, so that saves of both lengths are cut off.
#pragma once

#include <string>
#include <vector>

#include "base/ansi_string.h"

namespace korvane::test {

inline std::vector<AnsiString> SaveList(unsigned serial) {
    std::vector<AnsiString> list;
    const int count = serial % 2 ? 40 : 800;
    for (int i = 0; i < count; ++i) {
        std::string entry = "http://s" + std::to_string(serial) + "-" + std::to_string(i) + ".example/";
        if (serial % 2 == 0) entry.resize(259, 'p');
        list.emplace_back(entry.c_str());
    }
    return list;
}

}  // namespace korvane::test
