#include "demo/demo_script.h"

#include <algorithm>
#include <cstdlib>

namespace demo {
namespace {

bool ParseCount(const std::string& text, long* value) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *value = std::atol(text.c_str());
    return true;
}

bool IsQuoted(const std::string& token) {
    return token.size() >= 2 && token.front() == '"' && token.back() == '"';
}

// Parses one of the demonstration's own lines; "" when it is fine.
std::string ParseOwnLine(const std::vector<std::string>& tokens, int line, DemoItem* item,
                         WindowExpectation* window, ScanExpectation* scan) {
    const std::string& verb = tokens[0];
    if (verb == "say") {
        if (tokens.size() != 2) return "say wants one quoted text";
        item->kind = DemoItem::Kind::Say;
        item->line = line;
        item->text = standin::Unquote(tokens[1]);
        return std::string();
    }
    if (verb == "white-list") {
        if (tokens.size() != 3 || tokens[1] != "add") return "white-list wants: add \"TEXT\"";
        item->kind = DemoItem::Kind::WhiteListAdd;
        item->line = line;
        item->text = standin::Unquote(tokens[2]);
        if (item->text.empty() || item->text.size() > 250) return "white-list add wants a text of 1 to 250 characters";
        return std::string();
    }
    if (verb == "new-window") {
        if (tokens.size() != 3 && !(tokens.size() == 5 && tokens[3] == "name"))
            return "new-window wants blocked or let-through, a quoted reason and optionally name NAME";
        if (tokens[1] == "blocked") window->outcome = Outcome::Blocked;
        else if (tokens[1] == "let-through") window->outcome = Outcome::LetThrough;
        else return "new-window wants blocked or let-through, not \"" + tokens[1] + "\"";
        if (!IsQuoted(tokens[2])) return "the reason of new-window is a quoted text";
        window->line = line;
        window->why = standin::Unquote(tokens[2]);
        if (tokens.size() == 5) window->name = standin::Unquote(tokens[4]);
        return std::string();
    }
    // scan
    if (tokens.size() != 5 || tokens[1] != "ads-hidden" || tokens[3] != "targets-rewritten" ||
        !ParseCount(tokens[2], &scan->adsHidden) || !ParseCount(tokens[4], &scan->targetsRewritten))
        return "scan wants: ads-hidden N targets-rewritten M";
    scan->line = line;
    return std::string();
}

bool IsOwnVerb(const std::string& verb) {
    return verb == "say" || verb == "white-list" || verb == "new-window" || verb == "scan";
}

}  // namespace

bool ParseDemoScript(const std::string& text, const std::string& baseFolder, DemoScript* demo,
                     std::vector<std::string>* errors) {
    // The demonstration's own lines become empty lines for the stand-in's
    // parser, so the line numbers of both stay those of the file.
    std::string standinText;
    std::vector<DemoItem> own;
    struct Attached {
        int line;
        bool isScan;
        WindowExpectation window;
        ScanExpectation scan;
    };
    std::vector<Attached> attached;
    size_t start = 0;
    int lineNumber = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        bool unbalanced = false;
        const std::vector<std::string> tokens = standin::Tokenize(line, &unbalanced);
        if (unbalanced || tokens.empty() || !IsOwnVerb(tokens[0])) {
            standinText += line + "\n";
            continue;
        }
        standinText += "\n";
        DemoItem item;
        WindowExpectation window;
        ScanExpectation scan;
        const std::string problem = ParseOwnLine(tokens, lineNumber, &item, &window, &scan);
        if (!problem.empty()) {
            errors->push_back("line " + std::to_string(lineNumber) + ": " + problem);
            continue;
        }
        if (tokens[0] == "say" || tokens[0] == "white-list") own.push_back(item);
        else attached.push_back({lineNumber, tokens[0] == "scan", window, scan});
    }
    DemoScript result;
    if (!standin::ParseScript(standinText, baseFolder, &result.script, errors) || !errors->empty()) return false;

    for (const standin::ScriptStep& step : result.script.steps) {
        DemoItem item;
        item.kind = DemoItem::Kind::Step;
        item.line = step.line;
        item.step = step;
        result.items.push_back(item);
    }
    result.items.insert(result.items.end(), own.begin(), own.end());
    std::stable_sort(result.items.begin(), result.items.end(),
                     [](const DemoItem& a, const DemoItem& b) { return a.line < b.line; });
    result.script.steps.clear();

    // Each expectation belongs to the nearest action above it: an expect
    // line in between checks, it does not act.
    for (const Attached& expectation : attached) {
        DemoItem* owner = nullptr;
        for (DemoItem& item : result.items) {
            if (item.line > expectation.line) break;
            if (item.kind == DemoItem::Kind::Step && item.step.verb != "expect") owner = &item;
        }
        if (!owner) {
            errors->push_back("line " + std::to_string(expectation.line) + ": no step above it to expect this of");
            continue;
        }
        if (!expectation.isScan) {
            owner->windows.push_back(expectation.window);
        } else if (owner->scan.line != 0) {
            errors->push_back("line " + std::to_string(expectation.line) + ": a second scan line for one step");
        } else {
            owner->scan = expectation.scan;
        }
    }
    if (!errors->empty()) return false;
    *demo = result;
    return true;
}

}  // namespace demo
