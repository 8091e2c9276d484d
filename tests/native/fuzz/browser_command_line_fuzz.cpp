// The launcher's command line. Besides the rule written plainly, the line is
// split into arguments as a program's C runtime splits its own: whatever a
// page puts into the address, the line must split as it does with a plain
// address in its place, the address being one argument of its own, and no
// byte of it may end or split an argument. Input: a registered open command
// and an address, separated by a NUL.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tray/browser_command_line.h"

using namespace korvane;

namespace {

bool Escaped(const std::string& address, size_t i) {
    size_t trailing = 0;
    while (trailing < address.size() && address[address.size() - 1 - trailing] == '\\') ++trailing;
    const unsigned char c = static_cast<unsigned char>(address[i]);
    return c <= ' ' || c == 0x7F || c == '"' || i >= address.size() - trailing;
}

std::string ExpectedSafe(const std::string& address) {
    std::string out;
    for (size_t i = 0; i < address.size(); ++i) {
        if (!Escaped(address, i)) {
            out.push_back(address[i]);
            continue;
        }
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(address[i]));
        out += hex;
    }
    return out;
}

std::string ExpectedLine(const std::string& command, const std::string& address) {
    size_t keep = command.find("\"%1\"");
    if (keep == std::string::npos) keep = command.find("%1");
    return command.substr(0, keep) + " \"" + ExpectedSafe(address) + "\"";
}

// A command line split as the C runtime splits it: the program name first,
// up to the next quote when it starts with one, else up to white space; then
// arguments, where white space outside quotes separates them, 2n backslashes
// before a quote give n and the quote opens or closes, 2n+1 give n and a
// literal quote, and "" inside quotes is one literal quote.
std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    std::string name;
    if (i < line.size() && line[i] == '"') {
        for (++i; i < line.size() && line[i] != '"'; ++i) name.push_back(line[i]);
        if (i < line.size()) ++i;
    } else {
        for (; i < line.size() && line[i] != ' ' && line[i] != '\t'; ++i) name.push_back(line[i]);
    }
    args.push_back(name);
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) return args;
        std::string arg;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            char c = line[i];
            if (c == '\\') {
                size_t count = 0;
                for (; i < line.size() && line[i] == '\\'; ++i) ++count;
                if (i >= line.size() || line[i] != '"') {
                    arg.append(count, '\\');
                    --i;
                    continue;
                }
                arg.append(count / 2, '\\');
                if (count % 2) {
                    arg.push_back('"');
                    continue;
                }
                c = '"';
            }
            if (c == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg.push_back('"');
                    ++i;
                } else {
                    quoted = !quoted;
                }
                continue;
            }
            if (!quoted && (c == ' ' || c == '\t')) break;
            arg.push_back(c);
        }
        args.push_back(arg);
    }
}

bool ExpectedWebAddress(const std::string& address) {
    const std::string lower = fuzz::Lowered(address);
    return lower.compare(0, 7, "http://") == 0 || lower.compare(0, 8, "https://") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> pieces = fuzz::SplitAtNul(data, size);
    pieces.resize(2);
    const std::string& command = pieces[0];
    const std::string& address = pieces[1];

    FUZZ_CHECK(IsWebAddress(address.c_str()) == ExpectedWebAddress(address), "address %s",
               fuzz::Show(address).c_str());

    const AnsiString safe = WebSafeAddress(address.c_str());
    const std::string safeText(safe.c_str(), safe.length());
    FUZZ_CHECK(safeText == ExpectedSafe(address), "%s escaped as %s", fuzz::Show(address).c_str(),
               fuzz::Show(safeText).c_str());

    const AnsiString line = BrowserCommandLine(command.c_str(), address.c_str());
    const std::string lineText(line.c_str(), line.length());
    FUZZ_CHECK(lineText == ExpectedLine(command, address), "command %s, address %s gave %s",
               fuzz::Show(command).c_str(), fuzz::Show(address).c_str(),
               fuzz::Show(lineText).c_str());

    const std::vector<std::string> args = SplitCommandLine(lineText);
    const std::vector<std::string> plain =
        SplitCommandLine(BrowserCommandLine(command.c_str(), "x").c_str());
    FUZZ_CHECK(args.size() == plain.size(), "command %s: address %s gives %zu arguments, not %zu",
               fuzz::Show(command).c_str(), fuzz::Show(address).c_str(), args.size(),
               plain.size());
    for (size_t i = 0; i + 1 < args.size(); ++i)
        FUZZ_CHECK(args[i] == plain[i], "command %s: address %s changes argument %zu to %s",
                   fuzz::Show(command).c_str(), fuzz::Show(address).c_str(), i,
                   fuzz::Show(args[i]).c_str());
    // Where the command's own part ends outside quotes, the address is the
    // last argument exactly.
    if (plain.size() >= 2 && plain.back() == "x")
        FUZZ_CHECK(args.back() == safeText, "command %s: address %s arrives as %s",
                   fuzz::Show(command).c_str(), fuzz::Show(address).c_str(),
                   fuzz::Show(args.back()).c_str());
    return 0;
}
