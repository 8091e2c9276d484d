#include "browser/session_script.h"

#include <cctype>
#include <cstdlib>
#include <functional>
#include <set>

#include "browser/text_conversion.h"
#include "dom/dom.h"

namespace standin {

namespace {

bool ParseNumber(const std::string& text, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtol(text.c_str(), &end, 0);
    return end && !*end;
}

bool IsWindowRef(const std::string& token, int* number) {
    if (token.size() < 2 || (token[0] != 'w' && token[0] != 'W')) return false;
    long value = 0;
    if (!ParseNumber(token.substr(1), &value) || value < 1 || value > 1000000) return false;
    *number = static_cast<int>(value);
    return true;
}

bool IsContextRef(const std::string& token) {
    int number = 0;
    const size_t slash = token.find('/');
    return IsWindowRef(token.substr(0, slash), &number);
}

struct Verb {
    const char* name;
    size_t minArgs;
    size_t maxArgs;
};

const Verb kVerbs[] = {
    {"open", 1, 2},        {"load", 2, 3},  {"click", 2, 4},  {"script-open", 2, 7},
    {"complete", 1, 1},    {"close", 1, 1}, {"key", 3, 3},    {"wait", 1, 1},
    {"fire", 2, 64},       {"expect", 1, 4}, {"start", 1, 1}, {"script-add", 3, 4},
};

const Verb* FindVerb(const std::string& name) {
    for (const Verb& verb : kVerbs)
        if (name == verb.name) return &verb;
    return nullptr;
}

// Checks one step's arguments; "" when they are fine.
std::string CheckStep(const ScriptStep& step) {
    const std::vector<std::string>& a = step.args;
    int number = 0;
    if (step.verb == "load" || step.verb == "click" || step.verb == "script-open" || step.verb == "complete" ||
        step.verb == "fire" || step.verb == "script-add") {
        if (!IsContextRef(a[0])) return "\"" + a[0] + "\" is not a window or frame (w1, w1/main)";
    }
    if (step.verb == "load" && a.size() == 3 && a[2] != "hold-frames" && a[2] != "defer-frames")
        return "load takes only hold-frames or defer-frames after the address";
    for (size_t i = 3; step.verb == "script-open" && i < a.size(); ++i)
        if (a[i] != "hold" && a[i] != "click" && a[i] != "unloading" && a[i] != "features")
            return "script-open takes hold, click, unloading or features after the name";
    if (step.verb == "start" && !IsWindowRef(a[0], &number)) return "start wants a window";
    if (step.verb == "click") {
        ElementSelector selector;
        std::string error;
        if (!ParseSelector(a[1], &selector, &error)) return error;
        for (size_t i = 2; i < a.size(); ++i)
            if (a[i] != "ctrl" && a[i] != "shift") return "click takes ctrl or shift after the element";
    }
    if (step.verb == "script-add") {
        ElementSelector selector;
        std::string error;
        if (!ParseSelector(a[1], &selector, &error)) return error;
        if (selector.kind != ElementSelector::Kind::Id || selector.tag == "area")
            return "script-add adds a#id or form#id";
    }
    if (step.verb == "close" && a[0] != "all" && !IsWindowRef(a[0], &number)) return "close wants w<N> or all";
    if (step.verb == "key") {
        UINT key = 0;
        if (!IsWindowRef(a[0], &number)) return "key wants a window first";
        if (!ParseKeyName(a[1], &key)) return "unknown key \"" + a[1] + "\"";
        if (a[2] != "down" && a[2] != "up" && a[2] != "press") return "key wants down, up or press";
    }
    long value = 0;
    if (step.verb == "wait" && (!ParseNumber(a[0], &value) || value < 0 || value > 600000))
        return "wait wants milliseconds (0 to 600000)";
    if (step.verb == "fire") {
        DISPID dispid = 0;
        if (!ParseEventName(a[1], &dispid)) return "unknown event \"" + a[1] + "\"";
        if (a.size() == 3 && a[2] == "no-params") return std::string();
        for (size_t i = 2; i < a.size(); ++i) {
            RawArg arg;
            std::string error;
            if (!ParseRawArg(Unquote(a[i]), &arg, &error)) return error;
        }
    }
    if (step.verb == "expect") {
        const std::string& what = a[0];
        const size_t n = a.size() - 1;
        auto wants = [&](size_t count) { return n == count; };
        if (what == "windows" || what == "refs" || what == "frames" || what == "created") {
            if (!wants(1) || !ParseNumber(a[1], &value)) return "expect " + what + " wants a number";
        } else if (what == "blocked" || what == "opened" || what == "loaded") {
            if (!wants(1)) return "expect " + what + " wants an address";
        } else if (what == "cancelled" || what == "not-cancelled") {
            if (n > 1) return "expect " + what + " takes at most an address";
        } else if (what == "events") {
            DISPID dispid = 0;
            if (!wants(2) || !ParseEventName(a[1], &dispid) || !ParseNumber(a[2], &value))
                return "expect events wants an event name and a count";
        } else if (what == "url") {
            if (!wants(2) || !IsContextRef(a[1])) return "expect url wants a window or frame and an address";
        } else if (what == "written") {
            if (!wants(3) || !IsContextRef(a[1]) || !ParseNumber(a[3], &value))
                return "expect written wants a window or frame, a property and a count";
        } else if (what == "destroyed" || what == "quit" || what == "closed" || what == "intact") {
            if (!wants(1) || !IsWindowRef(a[1], &number)) return "expect " + what + " wants a window";
        } else {
            return "unknown expectation \"" + what + "\"";
        }
    }
    return std::string();
}

std::string JoinFolder(const std::string& base, const std::string& folder) {
    if (folder.size() >= 2 && (folder[1] == ':' || (folder[0] == '\\' && folder[1] == '\\'))) return folder;
    if (!folder.empty() && (folder[0] == '\\' || folder[0] == '/')) return folder;
    if (base.empty()) return folder;
    std::string joined = base;
    if (joined.back() != '\\' && joined.back() != '/') joined += '\\';
    return joined + folder;
}

}  // namespace

std::vector<std::string> Tokenize(const std::string& line, bool* unbalanced) {
    std::vector<std::string> tokens;
    *unbalanced = false;
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && static_cast<unsigned char>(line[i]) <= ' ') ++i;
        if (i >= n) break;
        if (line[i] == '#' && (i + 1 >= n || static_cast<unsigned char>(line[i + 1]) <= ' ')) break;
        std::string token;
        bool quoted = false;
        while (i < n && (quoted || static_cast<unsigned char>(line[i]) > ' ')) {
            const char c = line[i];
            if (quoted && c == '\\' && i + 1 < n && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                token += c;
                token += line[i + 1];
                i += 2;
                continue;
            }
            if (c == '"') quoted = !quoted;
            token += c;
            ++i;
        }
        if (quoted) *unbalanced = true;
        tokens.push_back(token);
    }
    return tokens;
}

std::string Unquote(const std::string& token) {
    std::string text;
    bool quoted = false;
    for (size_t i = 0; i < token.size(); ++i) {
        const char c = token[i];
        if (quoted && c == '\\' && i + 1 < token.size() && (token[i + 1] == '"' || token[i + 1] == '\\')) {
            text += token[++i];
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        text += c;
    }
    return text;
}

bool ParseSelector(const std::string& token, ElementSelector* selector, std::string* error) {
    size_t i = 0;
    while (i < token.size() && std::isalpha(static_cast<unsigned char>(token[i]))) ++i;
    ElementSelector result;
    const std::string tag = AsciiLower(token.substr(0, i));
    if (!tag.empty()) {
        if (tag != "a" && tag != "area" && tag != "form") {
            *error = "an element is a, area or form, not \"" + tag + "\"";
            return false;
        }
        result.tag = tag;
    }
    const std::string rest = token.substr(i);
    if (rest.size() > 1 && rest[0] == '#') {
        result.kind = ElementSelector::Kind::Id;
        result.value = rest.substr(1);
    } else if (rest.size() > 2 && rest[0] == '[' && rest.back() == ']') {
        long index = 0;
        if (!ParseNumber(rest.substr(1, rest.size() - 2), &index) || index < 0 || index > 10000000) {
            *error = "an index is a number from 0: [0], [1], ...";
            return false;
        }
        result.kind = ElementSelector::Kind::Index;
        result.index = static_cast<int>(index);
    } else if (rest.size() >= 2 && rest[0] == '"' && rest.back() == '"') {
        result.kind = ElementSelector::Kind::Text;
        result.value = Unquote(rest);
    } else {
        *error = "\"" + token + "\" is no element: #id, [index] or \"text\", with a, area or form before it";
        return false;
    }
    *selector = result;
    return true;
}

bool ParseKeyName(const std::string& token, UINT* virtualKey) {
    const std::string name = AsciiLower(token);
    if (name == "ctrl" || name == "control") *virtualKey = VK_CONTROL;
    else if (name == "shift") *virtualKey = VK_SHIFT;
    else if (name == "alt") *virtualKey = VK_MENU;
    else if (name == "enter") *virtualKey = VK_RETURN;
    else if (name == "esc" || name == "escape") *virtualKey = VK_ESCAPE;
    else if (name == "space") *virtualKey = VK_SPACE;
    else if (name == "tab") *virtualKey = VK_TAB;
    else if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') *virtualKey = static_cast<UINT>('A' + name[0] - 'a');
    else if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') *virtualKey = static_cast<UINT>(name[0]);
    else if (name.size() >= 2 && name[0] == 'f') {
        long number = 0;
        if (!ParseNumber(name.substr(1), &number) || number < 1 || number > 24) return false;
        *virtualKey = static_cast<UINT>(VK_F1 + number - 1);
    } else if (name.compare(0, 3, "vk:") == 0) {
        long number = 0;
        if (!ParseNumber(name.substr(3), &number) || number < 1 || number > 0xFE) return false;
        *virtualKey = static_cast<UINT>(number);
    } else {
        return false;
    }
    return true;
}

bool ParseScript(const std::string& text, const std::string& baseFolder, Script* script,
                 std::vector<std::string>* errors) {
    Script result;
    result.options.siteFolder = baseFolder;
    bool sawAction = false;
    size_t start = 0;
    int lineNumber = 0;
    auto fail = [&](const std::string& message) {
        errors->push_back("line " + std::to_string(lineNumber) + ": " + message);
    };
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line = line.substr(3);
        bool unbalanced = false;
        std::vector<std::string> tokens = Tokenize(line, &unbalanced);
        if (unbalanced) {
            fail("a quote is not closed");
            continue;
        }
        if (tokens.empty()) continue;
        const std::string verb = AsciiLower(tokens[0]);
        tokens.erase(tokens.begin());
        if (verb == "site") {
            if (tokens.size() != 1) fail("site wants one folder");
            else result.options.siteFolder = JoinFolder(baseFolder, Unquote(tokens[0]));
            continue;
        }
        if (verb == "option") {
            if (sawAction) {
                fail("options come before the first step");
                continue;
            }
            if (tokens.empty()) {
                fail("option wants a name");
                continue;
            }
            const std::string name = AsciiLower(tokens[0]);
            const std::string value = tokens.size() > 1 ? AsciiLower(Unquote(tokens[1])) : std::string();
            if (name == "connection-points" && tokens.size() == 2 && (value == "on" || value == "off")) {
                result.options.connectionPoints = value == "on";
            } else if (name == "site" && tokens.size() == 2 && (value == "browser" || value == "unknown")) {
                result.options.site = value == "browser" ? SiteKind::Browser : SiteKind::PlainUnknown;
            } else if (name == "helpers" && tokens.size() >= 2) {
                if (value == "none") {
                    result.options.loadHelpers = false;
                } else if (value != "all") {
                    for (size_t i = 1; i < tokens.size(); ++i) {
                        CLSID clsid;
                        if (!ParseGuid(Unquote(tokens[i]), &clsid)) {
                            fail("\"" + tokens[i] + "\" is not a CLSID");
                            break;
                        }
                        result.options.onlyHelpers.push_back(clsid);
                    }
                }
            } else if (name == "timeout" && tokens.size() == 2) {
                long ms = 0;
                if (!ParseNumber(value, &ms) || ms < 100 || ms > 600000) fail("timeout wants 100 to 600000 ms");
                else result.options.stepTimeoutMs = static_cast<DWORD>(ms);
            } else if (name == "new-window" && tokens.size() == 2 &&
                       (value == "newwindow2" || value == "newwindow3" || value == "both")) {
                result.options.newWindowEvents = value == "newwindow2"   ? NewWindowEvents::NewWindow2
                                                 : value == "newwindow3" ? NewWindowEvents::NewWindow3
                                                                         : NewWindowEvents::Both;
            } else if (name == "profile" && tokens.size() == 2 &&
                       (value == "ie6" || value == "ie7" || value == "ie8" || value == "ie11")) {
                result.options.profile = value == "ie6"   ? BrowserProfile::IE6
                                         : value == "ie7" ? BrowserProfile::IE7
                                         : value == "ie8" ? BrowserProfile::IE8
                                                          : BrowserProfile::IE11;
            } else if (name == "leak-check" && tokens.size() == 2 && (value == "on" || value == "off")) {
                result.leakCheck = value == "on";
            } else {
                fail("unknown option \"" + line + "\"");
            }
            continue;
        }
        const Verb* known = FindVerb(verb);
        if (!known) {
            fail("unknown step \"" + verb + "\"");
            continue;
        }
        if (tokens.size() < known->minArgs || tokens.size() > known->maxArgs) {
            fail(verb + " takes " + std::to_string(known->minArgs) +
                 (known->maxArgs != known->minArgs ? " to " + std::to_string(known->maxArgs) : std::string()) +
                 " arguments");
            continue;
        }
        ScriptStep step;
        step.line = lineNumber;
        step.verb = verb;
        step.args = tokens;
        step.text = line;
        const std::string problem = CheckStep(step);
        if (!problem.empty()) {
            fail(problem);
            continue;
        }
        sawAction = true;
        result.steps.push_back(step);
    }
    if (!errors->empty()) return false;
    *script = result;
    return true;
}

namespace {

class Runner {
public:
    Runner(Session& session, RunSummary& summary) : session_(session), summary_(summary) {}

    // False when the step could not be done.
    bool Step(const ScriptStep& step);

private:
    bool Expect(const ScriptStep& step);
    // The window is open, its own window and its frame are there and shown,
    // and nobody but the browser ever hid or destroyed either.
    bool Intact(int number);
    void Report(const std::string& what, bool passed, const std::string& why);
    const TimelineEntry* LastWithCancel(const std::vector<TimelineEntry>& entries, const std::string& url);

    Session& session_;
    RunSummary& summary_;
};

bool Runner::Step(const ScriptStep& step) {
    const std::vector<std::string>& a = step.args;
    const std::string& verb = step.verb;
    if (verb == "open") return session_.Open(Unquote(a[0]), a.size() > 1 ? Unquote(a[1]) : std::string()) != 0;
    if (verb == "load") {
        FrameLoad frames = FrameLoad::Complete;
        if (a.size() == 3) frames = a[2] == "hold-frames" ? FrameLoad::Hold : FrameLoad::Defer;
        return session_.Load(a[0], Unquote(a[1]), frames);
    }
    if (verb == "click") {
        ElementSelector selector;
        std::string error;
        ParseSelector(a[1], &selector, &error);
        Modifiers modifiers;
        for (size_t i = 2; i < a.size(); ++i) {
            if (a[i] == "ctrl") modifiers.ctrl = true;
            if (a[i] == "shift") modifiers.shift = true;
        }
        return session_.Click(a[0], selector, modifiers);
    }
    if (verb == "script-open") {
        bool hold = false;
        ScriptCall call;
        for (size_t i = 3; i < a.size(); ++i) {
            hold = hold || a[i] == "hold";
            call.fromClick = call.fromClick || a[i] == "click";
            call.unloading = call.unloading || a[i] == "unloading";
            call.features = call.features || a[i] == "features";
        }
        return session_.ScriptOpen(a[0], Unquote(a[1]), a.size() > 2 ? Unquote(a[2]) : "", hold, call);
    }
    if (verb == "script-add") {
        ElementSelector selector;
        std::string error;
        ParseSelector(a[1], &selector, &error);
        return session_.AddElement(a[0], selector, Unquote(a[2]), a.size() > 3 ? Unquote(a[3]) : std::string());
    }
    if (verb == "start") return session_.StartNavigation(std::atoi(a[0].c_str() + 1));
    if (verb == "complete") return session_.CompleteFrame(a[0]);
    if (verb == "close") {
        if (a[0] == "all") return session_.CloseAll();
        return session_.Close(std::atoi(a[0].c_str() + 1));
    }
    if (verb == "key") {
        UINT key = 0;
        ParseKeyName(a[1], &key);
        const int window = std::atoi(a[0].c_str() + 1);
        if (a[2] == "down") return session_.Key(window, key, true);
        if (a[2] == "up") return session_.Key(window, key, false);
        return session_.Key(window, key, true) && session_.Key(window, key, false);
    }
    if (verb == "wait") {
        session_.Wait(static_cast<DWORD>(std::atol(a[0].c_str())));
        return true;
    }
    if (verb == "fire") {
        DISPID dispid = 0;
        ParseEventName(a[1], &dispid);
        if (a.size() == 3 && a[2] == "no-params") return session_.Fire(a[0], dispid, {}, true);
        std::vector<RawArg> args;
        for (size_t i = 2; i < a.size(); ++i) {
            RawArg arg;
            std::string error;
            ParseRawArg(Unquote(a[i]), &arg, &error);
            args.push_back(arg);
        }
        return session_.Fire(a[0], dispid, args, false);
    }
    if (verb == "expect") return Expect(step);
    return false;
}

void Runner::Report(const std::string& what, bool passed, const std::string& why) {
    ++summary_.expectations;
    if (!passed) ++summary_.failures;
    TimelineEntry entry;
    entry.kind = TimelineKind::Expectation;
    entry.passed = passed;
    entry.detail = what + (passed || why.empty() ? std::string() : " -- " + why);
    session_.timeline().Add(entry);
}

const TimelineEntry* Runner::LastWithCancel(const std::vector<TimelineEntry>& entries, const std::string& url) {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->kind != TimelineKind::Event || !it->hasCancel) continue;
        if (!url.empty() && it->url != url) continue;
        return &*it;
    }
    return nullptr;
}

bool Runner::Intact(int number) {
    const WindowInfo info = session_.Window(number);
    if (!info.open || info.hiddenExternally || info.destroyedExternally || !IsWindow(info.hwnd)) return false;
    if (info.frame == 0) return IsWindowVisible(info.hwnd) != FALSE;
    for (const FrameInfo& frame : session_.Frames())
        if (frame.number == info.frame)
            return frame.exists && !frame.hiddenExternally && !frame.destroyedExternally && IsWindow(info.tab);
    return false;
}

bool Runner::Expect(const ScriptStep& step) {
    std::vector<std::string> a;
    for (const std::string& token : step.args) a.push_back(Unquote(token));
    const std::string what = a[0];
    std::string text;
    for (const std::string& token : step.args) text += (text.empty() ? "" : " ") + token;
    const std::vector<WindowInfo> windows = session_.Windows();
    const std::vector<TimelineEntry> entries = session_.timeline().Entries();
    long number = 0;
    if (what == "windows") {
        ParseNumber(a[1], &number);
        const int open = session_.OpenWindowCount();
        Report(text, open == number, std::to_string(open) + " open");
    } else if (what == "frames") {
        ParseNumber(a[1], &number);
        int open = 0;
        if (session_.options().profile == BrowserProfile::IE6) {
            open = session_.OpenWindowCount();
        } else {
            for (const FrameInfo& frame : session_.Frames()) open += frame.open && frame.exists ? 1 : 0;
        }
        Report(text, open == number, std::to_string(open) + " open");
    } else if (what == "created") {
        ParseNumber(a[1], &number);
        long created = 0;
        for (const WindowInfo& info : windows) created += info.openedByPage ? 1 : 0;
        Report(text, created == number, std::to_string(created) + " created");
    } else if (what == "refs") {
        ParseNumber(a[1], &number);
        const LiveReferences refs = CurrentLiveReferences();
        Report(text, refs.Total() == number, std::to_string(refs.Total()) + " held");
    } else if (what == "blocked" || what == "opened") {
        bool found = false;
        for (const WindowInfo& info : windows) {
            if (!info.openedByPage || info.firstUrl != a[1]) continue;
            if (what == "blocked" && info.firstNavigationCancelled && !info.open) found = true;
            if (what == "opened" && !info.firstNavigationCancelled) found = true;
        }
        Report(text, found, what == "blocked" ? "no new window for it was cancelled and closed"
                                              : "no new window showed it");
    } else if (what == "loaded") {
        bool found = false;
        for (const TimelineEntry& entry : entries)
            if (entry.kind == TimelineKind::DocumentLoaded && entry.url == a[1]) found = true;
        Report(text, found, "never completed");
    } else if (what == "cancelled" || what == "not-cancelled") {
        const TimelineEntry* last = LastWithCancel(entries, a.size() > 1 ? a[1] : std::string());
        if (!last) {
            Report(text, false, "no such event with a Cancel flag");
        } else {
            const bool wanted = what == "cancelled";
            Report(text, last->cancelled == wanted, last->cancelled ? "it was cancelled" : "it was not cancelled");
        }
    } else if (what == "events") {
        DISPID dispid = 0;
        ParseEventName(a[1], &dispid);
        ParseNumber(a[2], &number);
        long count = 0;
        for (const TimelineEntry& entry : entries)
            if (entry.kind == TimelineKind::Event && entry.dispid == dispid) ++count;
        Report(text, count == number, std::to_string(count) + " fired");
    } else if (what == "url") {
        const std::string url = session_.ContextUrl(a[1]);
        Report(text, url == a[2], "shows \"" + url + "\"");
    } else if (what == "written") {
        ParseNumber(a[3], &number);
        std::set<std::string> elements;
        if (std::shared_ptr<Document> document = session_.DocumentOf(a[1]))
            for (const PropertyWrite& write : document->Writes())
                if (write.property == a[2]) elements.insert(write.tag + "[" + std::to_string(write.index) + "]");
        Report(text, static_cast<long>(elements.size()) == number,
               std::to_string(elements.size()) + " elements written");
    } else if (what == "intact") {
        Report(text, Intact(std::atoi(a[1].c_str() + 1)), "it is not");
    } else {
        const WindowInfo info = session_.Window(std::atoi(a[1].c_str() + 1));
        bool holds = false;
        if (what == "destroyed") holds = info.destroyedExternally;
        if (what == "quit") holds = info.quitCalled;
        if (what == "closed") holds = info.number != 0 && !info.open;
        Report(text, holds, "it was not");
    }
    return true;
}

}  // namespace

bool RunStep(Session& session, const ScriptStep& step, RunSummary* summary) {
    Runner runner(session, *summary);
    TimelineEntry entry;
    entry.kind = TimelineKind::Step;
    entry.detail = "line " + std::to_string(step.line) + ": " + step.text;
    session.timeline().Add(entry);
    ++summary->steps;
    if (!runner.Step(step)) {
        ++summary->failures;
        TimelineEntry failed;
        failed.kind = TimelineKind::Note;
        failed.detail = "step failed: " + session.LastError();
        session.timeline().Add(failed);
    }
    if (session.WaitIdle()) return true;
    summary->stuck = true;
    return false;
}

RunSummary RunScript(Session& session, const Script& script) {
    RunSummary summary;
    const long overReleasesBefore = CurrentLiveReferences().overReleases;
    for (const ScriptStep& step : script.steps) {
        if (!RunStep(session, step, &summary)) break;
    }
    if (!summary.stuck && !session.CloseAll()) summary.stuck = true;
    summary.leftover = CurrentLiveReferences();
    if (script.leakCheck && !summary.stuck) {
        const LiveReferences& left = summary.leftover;
        const long overReleases = left.overReleases - overReleasesBefore;
        const bool clean = left.Total() == 0 && overReleases == 0 && left.documentBstrs <= 0;
        ++summary.expectations;
        if (!clean) ++summary.failures;
        TimelineEntry entry;
        entry.kind = TimelineKind::Expectation;
        entry.passed = clean;
        entry.detail = "no references left after closing (browsers " + std::to_string(left.browsers) +
                       ", connection points " + std::to_string(left.connectionPoints) + ", enumerators " +
                       std::to_string(left.enumerators) + ", sites " + std::to_string(left.sites) +
                       ", document objects " + std::to_string(left.documentReferences) + ", document BSTRs " +
                       (left.documentBstrs < 0 ? std::string("not counted") : std::to_string(left.documentBstrs)) +
                       ", over-releases " + std::to_string(overReleases) + ")";
        session.timeline().Add(entry);
    }
    // Reported above; ended now so that the process can play another
    // session with clean counts.
    if (!summary.stuck) ReleaseLeakedSinks();
    return summary;
}

}  // namespace standin
