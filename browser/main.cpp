// korvane_browser.exe: plays a session file against the browser stand-in,
// loading the registered browser helper objects into every window, prints
// the timeline and exits with 1 when an expectation failed.
//
//   korvane_browser.exe <session-file> [--site DIR] [--helper CLSID]...
//                       [--no-helpers] [--no-connection-points] [--plain-site]
//                       [--timeout MS] [--quiet]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "browser/session.h"
#include "browser/session_script.h"
#include "browser/text_conversion.h"

namespace {

void Usage() {
    fprintf(stderr,
            "usage: korvane_browser <session-file> [--site DIR] [--helper CLSID]... [--no-helpers]\n"
            "                       [--no-connection-points] [--plain-site] [--timeout MS] [--quiet]\n");
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    const std::wstring wide = standin::Widen(path);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char chunk[65536];
    DWORD read = 0;
    bool ok = true;
    while (ok && ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read) {
        text->append(chunk, read);
        if (text->size() > 16 * 1024 * 1024) ok = false;  // no session file is that long
    }
    CloseHandle(file);
    return ok;
}

std::string FolderOf(const std::string& path) {
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    std::string absolute = length && length < sizeof full ? std::string(full, length) : path;
    const size_t slash = absolute.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : absolute.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    std::string sessionFile;
    std::string site;
    std::vector<CLSID> helpers;
    bool noHelpers = false, noConnectionPoints = false, plainSite = false, quiet = false;
    long timeout = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&](std::string* value) {
            if (i + 1 >= argc) return false;
            *value = argv[++i];
            return true;
        };
        std::string value;
        if (arg == "--site" && next(&value)) {
            site = value;
        } else if (arg == "--helper" && next(&value)) {
            CLSID clsid;
            if (!standin::ParseGuid(value, &clsid)) {
                fprintf(stderr, "not a CLSID: %s\n", value.c_str());
                return 2;
            }
            helpers.push_back(clsid);
        } else if (arg == "--timeout" && next(&value)) {
            timeout = std::atol(value.c_str());
        } else if (arg == "--no-helpers") {
            noHelpers = true;
        } else if (arg == "--no-connection-points") {
            noConnectionPoints = true;
        } else if (arg == "--plain-site") {
            plainSite = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (sessionFile.empty() && arg.compare(0, 2, "--") != 0) {
            sessionFile = arg;
        } else {
            Usage();
            return 2;
        }
    }
    std::string text;
    if (sessionFile.empty() || !ReadWholeFile(sessionFile, &text)) {
        fprintf(stderr, "cannot read the session file %s\n", sessionFile.c_str());
        return 2;
    }
    standin::Script script;
    std::vector<std::string> errors;
    if (!standin::ParseScript(text, FolderOf(sessionFile), &script, &errors)) {
        for (const std::string& error : errors) fprintf(stderr, "%s: %s\n", sessionFile.c_str(), error.c_str());
        return 2;
    }
    standin::SessionOptions options = script.options;
    if (!site.empty()) options.siteFolder = site;
    if (!helpers.empty()) options.onlyHelpers = helpers;
    if (noHelpers) options.loadHelpers = false;
    if (noConnectionPoints) options.connectionPoints = false;
    if (plainSite) options.site = standin::SiteKind::PlainUnknown;
    if (timeout >= 100) options.stepTimeoutMs = static_cast<DWORD>(timeout);
    options.echo = quiet ? nullptr : stdout;

    standin::RunSummary summary;
    {
        standin::Session session(options);
        summary = standin::RunScript(session, script);
    }
    printf("%d steps, %d expectations, %d failed%s\n", summary.steps, summary.expectations, summary.failures,
           summary.stuck ? ", abandoned: the browser stayed busy" : "");
    fflush(stdout);
    // A helper stuck in a window's thread must not keep the program alive.
    if (summary.stuck) ExitProcess(static_cast<UINT>(summary.ExitCode()));
    return summary.ExitCode();
}
