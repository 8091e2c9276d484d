// The demonstration's session file: the browser stand-in's steps (see
// browser/README.md) with a few lines of the demonstration's own, which say
// what the blocker is expected to do and drive the dialogs:
//
//   say "TEXT"
//   new-window blocked|let-through "WHY" [name NAME]
//   scan ads-hidden N targets-rewritten M
//   white-list add "TEXT"
//
// new-window and scan lines belong to the action step above them.
#pragma once

#include <string>
#include <vector>

#include "browser/session_script.h"

namespace demo {

enum class Outcome { Blocked, LetThrough };

struct WindowExpectation {
    int line = 0;
    Outcome outcome = Outcome::Blocked;
    std::string why;   // the rule the demonstration expects to decide
    std::string name;  // the name the window must carry; empty: any
};

struct ScanExpectation {
    int line = 0;
    long adsHidden = 0;
    long targetsRewritten = 0;
};

struct DemoItem {
    enum class Kind { Step, Say, WhiteListAdd };
    Kind kind = Kind::Step;
    int line = 0;
    standin::ScriptStep step;  // Step
    std::string text;          // Say: the heading; WhiteListAdd: what the reader types
    // Step: what becomes of the windows it opens, in the order they open,
    // and what its page scans do (nothing, unless a scan line says so).
    std::vector<WindowExpectation> windows;
    ScanExpectation scan;
};

struct DemoScript {
    standin::Script script;  // the stand-in's options; its steps are in items
    std::vector<DemoItem> items;
};

// False with one message per faulty line ("line 7: ...").
bool ParseDemoScript(const std::string& text, const std::string& baseFolder, DemoScript* demo,
                     std::vector<std::string>* errors);

}  // namespace demo
