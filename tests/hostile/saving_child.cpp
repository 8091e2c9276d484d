// A browser process that saves its white list once, for the test that
// kills it half-way:
//
//   korvane_saving_child <folder> <serial> <event prefix> [entry]
//
// Waits for the event "<prefix>.go", loads the list in <folder> as a
// browser process does, changes it to list <serial> (save_lists.h), or
// adds entry to it, sets "<prefix>.saving" and saves, then sets
// "<prefix>.done". Exit code 0 when the save succeeded, 1 when it failed,
// 2 on bad usage or no go.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "hostile/save_lists.h"
#include "whitelist/whitelist_store.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string prefix = argv[3];
    auto event = [&](const char* suffix) {
        return CreateEventA(nullptr, TRUE, FALSE, (prefix + suffix).c_str());
    };
    HANDLE go = event(".go");
    HANDLE saving = event(".saving");
    HANDLE done = event(".done");
    if (WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return 2;
    korvane::WhiteListStore store(argv[1]);
    store.LoadIfEmpty();
    if (argc > 4)
        store.Append(argv[4]);
    else
        store.ReplaceAll(korvane::test::SaveList(static_cast<unsigned>(std::atoi(argv[2]))));
    SetEvent(saving);
    const bool saved = store.Save();
    SetEvent(done);
    return saved ? 0 : 1;
}
