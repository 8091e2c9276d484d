// Session files: a browsing session written as data, one step a line (the
// format is described in browser/README.md), and the runner that plays one
// against a Session and checks its expectations.
#pragma once

#include <string>
#include <vector>

#include "browser/live_references.h"
#include "browser/session.h"

namespace standin {

struct ScriptStep {
    int line = 0;
    std::string verb;               // "open", "click", "expect", ...
    std::vector<std::string> args;  // tokens with their quotes still on
    std::string text;               // the line as written, for the timeline
};

struct Script {
    SessionOptions options;  // from "site" and "option" lines
    bool leakCheck = true;   // "option leak-check off" turns the final check off
    std::vector<ScriptStep> steps;
};

// Splits a line into tokens at white space; double quotes group (with \"
// and \\ inside) and stay on the token. "#" starts a comment outside quotes
// when it begins a token that is followed by white space or the line end.
std::vector<std::string> Tokenize(const std::string& line, bool* unbalanced);
// Removes the quotes of a token: str:"a b" -> str:a b.
std::string Unquote(const std::string& token);

// Selectors: #id, [N], "text", each with an optional tag before it
// (a, area, form): area#map1, form[0], a"Next page".
bool ParseSelector(const std::string& token, ElementSelector* selector, std::string* error);
// Key names: ctrl, shift, alt, f1..f24, a..z, 0..9, enter, esc, space,
// tab, or vk:0xNN.
bool ParseKeyName(const std::string& token, UINT* virtualKey);

// Parses a whole file. baseFolder (the session file's folder) anchors a
// relative "site" and is the default site folder. False with one message
// per faulty line ("line 7: ...").
bool ParseScript(const std::string& text, const std::string& baseFolder, Script* script,
                 std::vector<std::string>* errors);

struct RunSummary {
    int steps = 0;
    int expectations = 0;
    int failures = 0;        // failed expectations and steps that could not be done
    bool stuck = false;      // the browser stayed busy: the session was abandoned
    LiveReferences leftover; // after the final close of every window
    int ExitCode() const { return failures == 0 && !stuck ? 0 : 1; }
};

// Plays one step (an action or an expectation) and waits until the browser
// is idle again, counting it in summary. False when the browser stayed
// busy: summary->stuck is then set and the session should be given up.
bool RunStep(Session& session, const ScriptStep& step, RunSummary* summary);

// Plays the steps, then closes every window and checks that no reference to
// the stand-in's objects is left (unless leakCheck is off).
RunSummary RunScript(Session& session, const Script& script);

}  // namespace standin
