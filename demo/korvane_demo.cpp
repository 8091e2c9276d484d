// korvane_demo.exe: the demonstration of a browsing session with Korvane.
//
//   korvane_demo.exe <session-file> [--shots FOLDER] [--verbose] [--timeout MS]
//
// Plays the session file through the browser stand-in against the
// Korvane.dll that is registered in this Windows (found through the
// registry and loaded by COM, as the browser loads it), and prints what
// became of every new window and what every page scan did, each beside what
// the demonstration expected. Then it opens the Blocked Popups and White
// List dialogs the way the tray menu does, in the process that shows the
// icon (the broker, which setup started, or else this process, where the
// popups were blocked), and checks what they list. With --shots it waits for
// the tray icon, and saves as BMP files in FOLDER the icon flashing at the
// first blocked popup and the two dialogs.
//
// Exit code: 0 when everything went as expected, 1 when the blocker did
// something else, 2 when the session file is faulty or Korvane is not
// registered.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/unique_resource.h"
#include "browser/live_references.h"
#include "browser/session.h"
#include "browser/session_script.h"
#include "browser/text_conversion.h"
#include "demo/demo_script.h"
#include "demo/desktop.h"
#include "demo/scan_report.h"
#include "resources/resource.h"

namespace {

using demo::DemoItem;
using demo::Outcome;

constexpr char kProgId[] = "Korvane.ViewSource";
constexpr char kHelperObjects[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr char kSettingsKey[] = "Software\\Vantrell\\BHO";
constexpr char kLogTitle[] = "Vantrell Log";
constexpr char kWhiteListTitle[] = "Vantrell White List";
constexpr char kSiteEditorTitle[] = "Vantrell Web Site Editor";

// Flash on and banner ads hidden (bits 0 and 1 of "Flash"), no sound: the
// demonstration shows everything the blocker does to a page, silently.
constexpr DWORD kFlashSetting = 3;
constexpr DWORD kSoundSetting = 0;

struct Options {
    std::string sessionFile;
    std::string shots;  // folder for pictures; empty: none
    bool verbose = false;
    DWORD timeoutMs = 0;
};

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    korvane::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read) {
        text->append(chunk, read);
        if (text->size() > 16 * 1024 * 1024) return false;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    const std::string absolute = length && length < sizeof full ? std::string(full, length) : path;
    const size_t slash = absolute.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : absolute.substr(0, slash);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
    std::string a = text, b = part;
    for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return a.find(b) != std::string::npos;
}

std::string ReadStringValue(HKEY root, const std::string& key, const char* name) {
    korvane::UniqueHkey opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return std::string();
    char value[1024] = {};
    DWORD type = 0, size = sizeof value - 1;
    if (RegQueryValueExA(opened.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return std::string();
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::string();
    value[std::min<DWORD>(size, sizeof value - 1)] = '\0';
    return value;
}

bool KeyExists(HKEY root, const std::string& key) {
    korvane::UniqueHkey opened;
    return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

// Korvane as the browser finds it: the class behind the program identifier,
// listed among the browser helper objects, served by a DLL that exists.
struct Registration {
    bool ok = false;
    std::string problem;
    std::string clsid;
    CLSID id = CLSID_NULL;
    std::string dll;
    std::string folder;
};

// Where the library keeps the white list: the folder setup makes for it,
// "Vantrell" in the common application data folder, or beside the library
// registered with regsvr32 alone.
std::string WhiteListFolder(const std::string& libraryFolder) {
    char common[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common) != S_OK)
        return libraryFolder;
    const std::string folder = std::string(common) + "\\Vantrell";
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return libraryFolder;
    return folder;
}

Registration FindRegistration() {
    Registration found;
    found.clsid = ReadStringValue(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID", nullptr);
    if (found.clsid.empty() || !standin::ParseGuid(found.clsid, &found.id)) {
        found.problem = std::string("no class is registered for ") + kProgId;
        return found;
    }
    if (!KeyExists(HKEY_LOCAL_MACHINE, std::string(kHelperObjects) + "\\" + found.clsid)) {
        found.problem = found.clsid + " is not listed among the browser helper objects";
        return found;
    }
    found.dll = ReadStringValue(HKEY_CLASSES_ROOT, "CLSID\\" + found.clsid + "\\InprocServer32", nullptr);
    if (found.dll.empty() || GetFileAttributesA(found.dll.c_str()) == INVALID_FILE_ATTRIBUTES) {
        found.problem = "the registered library \"" + found.dll + "\" does not exist";
        return found;
    }
    const size_t slash = found.dll.find_last_of("\\/");
    found.folder = slash == std::string::npos ? std::string(".") : found.dll.substr(0, slash);
    found.ok = true;
    return found;
}

bool StoreSetting(const char* name, DWORD value) {
    korvane::UniqueHkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

const char* OutcomeText(Outcome outcome) { return outcome == Outcome::Blocked ? "blocked" : "let through"; }

class Demonstration {
public:
    Demonstration(const demo::DemoScript& script, const Options& options, const Registration& korvane)
        : script_(script), options_(options), korvane_(korvane), session_(SessionOptionsFor(script, options, korvane)) {}

    int Run();

private:
    static standin::SessionOptions SessionOptionsFor(const demo::DemoScript& script, const Options& options,
                                                     const Registration& korvane) {
        standin::SessionOptions session = script.script.options;
        // Only Korvane: whatever else a machine has registered is not part of
        // the demonstration.
        session.onlyHelpers.assign(1, korvane.id);
        if (options.timeoutMs >= 100) session.stepTimeoutMs = options.timeoutMs;
        session.echo = options.verbose ? stdout : nullptr;
        return session;
    }

    void Difference(const std::string& what) {
        ++differences_;
        Print("      DIFFERENT: %s\n", what.c_str());
    }
    // False when the session had to be given up.
    bool PlayStep(const DemoItem& item);
    void ReportWindows(const DemoItem& item, const std::vector<standin::TimelineEntry>& entries);
    void ReportScans(const DemoItem& item);
    void WatchFlash();
    void WaitForTrayIcon();
    void AddToWhiteList(const DemoItem& item);
    void CheckBlockedPopupsDialog();
    void CheckWhiteListDialog();
    void CheckNothingHeld();
    int Summary();
    void SavePicture(const demo::Picture& picture, const char* name);

    const demo::DemoScript& script_;
    const Options& options_;
    const Registration& korvane_;
    standin::Session session_;
    standin::RunSummary standin_;
    demo::ScanWatcher scans_;
    size_t windowsSeen_ = 0;
    bool flashWatched_ = false;
    int differences_ = 0;
    long blocked_ = 0, letThrough_ = 0;
    long expectedBlocked_ = 0, expectedLetThrough_ = 0, expectedAds_ = 0, expectedTargets_ = 0;
    std::vector<std::string> blockedUrls_;   // each once, in the order first blocked
    std::vector<std::string> whiteListShown_;
    std::vector<std::string> pictures_;
};

int Demonstration::Run() {
    const long overReleasesBefore = standin::CurrentLiveReferences().overReleases;
    for (const DemoItem& item : script_.items) {
        if (item.kind == DemoItem::Kind::Say) {
            Print("\n== %s\n", item.text.c_str());
            continue;
        }
        if (item.kind == DemoItem::Kind::WhiteListAdd) {
            AddToWhiteList(item);
            continue;
        }
        if (!PlayStep(item)) {
            Print("\nThe browser stayed busy: the session is given up.\n");
            Summary();
            // A helper stuck in a window's thread must not keep the program alive.
            ExitProcess(1);
        }
    }

    Print("\n== What the reader finds in the tray menu\n");
    CheckBlockedPopupsDialog();
    CheckWhiteListDialog();
    if (!session_.CloseAll()) Difference("the windows did not close");
    CheckNothingHeld();
    const long overReleases = standin::CurrentLiveReferences().overReleases - overReleasesBefore;
    if (overReleases != 0) Difference(std::to_string(overReleases) + " references released once too often");
    return Summary();
}

bool Demonstration::PlayStep(const DemoItem& item) {
    const size_t indent = item.step.text.find_first_not_of(" \t");
    Print("  > %-66s (line %d)\n", indent == std::string::npos ? "" : item.step.text.c_str() + indent, item.line);
    const size_t mark = session_.timeline().Size();
    const bool idle = standin::RunStep(session_, item.step, &standin_);
    std::vector<standin::TimelineEntry> entries = session_.timeline().Entries();
    entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(std::min(mark, entries.size())));

    for (const standin::TimelineEntry& entry : entries) {
        if (entry.kind == standin::TimelineKind::Note && entry.detail.compare(0, 12, "step failed:") == 0)
            Difference(entry.detail);
    }
    ReportWindows(item, entries);
    for (const standin::TimelineEntry& entry : entries) {
        if (entry.kind == standin::TimelineKind::DocumentLoaded)
            Print("    %s shows %s\n", entry.context.c_str(), entry.url.c_str());
        if (entry.kind == standin::TimelineKind::PageMissing)
            Difference(entry.context + ": no page for " + entry.url + " in the demonstration's site");
    }
    scans_.Watch(session_, entries);
    ReportScans(item);
    for (const standin::TimelineEntry& entry : entries) {
        if (entry.kind != standin::TimelineKind::Expectation) continue;
        if (entry.passed) Print("    check: %s -- ok\n", entry.detail.c_str());
        else Difference("check failed: " + entry.detail);
    }
    if (item.step.verb == "open" && !options_.shots.empty()) WaitForTrayIcon();
    return idle;
}

void Demonstration::ReportWindows(const DemoItem& item, const std::vector<standin::TimelineEntry>& entries) {
    const std::vector<standin::WindowInfo> windows = session_.Windows();
    size_t expectation = 0;
    bool blockedHere = false;
    for (size_t i = windowsSeen_; i < windows.size(); ++i) {
        const standin::WindowInfo& window = windows[i];
        if (!window.openedByPage) {
            Print("    w%d opened by the reader\n", window.number);
            continue;
        }
        std::string target = "(none)";
        for (const standin::TimelineEntry& entry : entries)
            if (entry.kind == standin::TimelineKind::Event && entry.dispid == 250 && entry.window == window.number) {
                target = "\"" + entry.target + "\"";
                break;
            }
        Print("    new window w%d for %s, target %s\n", window.number, window.firstUrl.c_str(), target.c_str());

        const bool blocked = window.firstNavigationCancelled && window.quitCalled && window.destroyedExternally &&
                             !window.open;
        const bool letThrough = !window.firstNavigationCancelled && !window.quitCalled && window.open;
        if (blocked) {
            ++blocked_;
            blockedHere = true;
            if (std::find(blockedUrls_.begin(), blockedUrls_.end(), window.firstUrl) == blockedUrls_.end())
                blockedUrls_.push_back(window.firstUrl);
        }
        if (letThrough) ++letThrough_;

        if (expectation >= item.windows.size()) {
            Print("      %s\n", blocked ? "blocked" : letThrough ? "let through" : "neither blocked nor let through");
            Difference("the demonstration expected no new window here");
            continue;
        }
        const demo::WindowExpectation& expected = item.windows[expectation++];
        const bool asExpected = expected.outcome == Outcome::Blocked ? blocked : letThrough;
        Print("      %s: %s%s\n", OutcomeText(expected.outcome), expected.why.c_str(), asExpected ? " -- as expected" : "");
        if (blocked && asExpected) Print("        (navigation cancelled, browser told to quit, window destroyed)\n");
        if (!asExpected) {
            Difference(std::string("it was ") +
                       (blocked ? "blocked" : letThrough ? "let through" : "neither blocked nor let through") +
                       (window.firstNavigationCancelled ? "; navigation cancelled" : "") +
                       (window.quitCalled ? "; told to quit" : "") + (window.open ? "; still open" : ""));
        }
        if (!expected.name.empty() && window.name != expected.name)
            Difference("the window is named \"" + window.name + "\", not \"" + expected.name + "\"");
    }
    for (; expectation < item.windows.size(); ++expectation) {
        const demo::WindowExpectation& expected = item.windows[expectation];
        Print("    no new window\n");
        Difference(std::string("expected a new window to be ") + OutcomeText(expected.outcome) + ": " + expected.why);
    }
    for (const demo::WindowExpectation& expected : item.windows)
        ++(expected.outcome == Outcome::Blocked ? expectedBlocked_ : expectedLetThrough_);
    windowsSeen_ = windows.size();
    if (blockedHere && !flashWatched_ && !options_.shots.empty()) WatchFlash();
}

void Demonstration::ReportScans(const DemoItem& item) {
    long ads = 0, targets = 0;
    for (const demo::DocumentChanges& changes : scans_.Collect()) {
        Print("    scan of %s (%s)\n", changes.context.c_str(), changes.url.c_str());
        for (const std::string& line : changes.adsHidden) Print("      ad hidden:       %s\n", line.c_str());
        for (const std::string& line : changes.targetsRewritten) Print("      target renamed:  %s\n", line.c_str());
        ads += static_cast<long>(changes.adsHidden.size());
        targets += static_cast<long>(changes.targetsRewritten.size());
    }
    expectedAds_ += item.scan.adsHidden;
    expectedTargets_ += item.scan.targetsRewritten;
    if (ads == 0 && targets == 0 && item.scan.line == 0) return;
    const bool asExpected = ads == item.scan.adsHidden && targets == item.scan.targetsRewritten;
    Print("    scans: %ld ads hidden, %ld targets rewritten%s\n", ads, targets, asExpected ? " -- as expected" : "");
    if (!asExpected)
        Difference("expected " + std::to_string(item.scan.adsHidden) + " ads hidden and " +
                   std::to_string(item.scan.targetsRewritten) + " targets rewritten");
}

void Demonstration::WaitForTrayIcon() {
    // Wine's notification area waits in vain for a window manager before it
    // shows its first icon.
    const DWORD start = GetTickCount();
    while (demo::NotificationAreaIcons().empty() && GetTickCount() - start < 30000) Sleep(100);
    if (demo::NotificationAreaIcons().empty()) {
        Difference("no icon showed in the notification area");
        return;
    }
    Print("    the tray icon shows in the notification area\n");
}

void Demonstration::WatchFlash() {
    flashWatched_ = true;
    // The flash runs for one to two seconds from the block.
    const demo::Flash flash = demo::WatchFlash(4000);
    if (flash.frames.empty()) {
        Difference("no notification area to watch the tray icon in");
        return;
    }
    Print("    the tray icon flashed: %lu changes of look%s\n", static_cast<unsigned long>(flash.frames.size() - 1),
          flash.sawAllowing && flash.endedBlocking ? ", back to the blocking icon at the end" : "");
    if (!flash.sawAllowing) Difference("the tray icon did not flash");
    else if (!flash.endedBlocking) Difference("the tray icon did not come back to the blocking icon");
    SavePicture(demo::SideBySide(flash.frames, 6, 0xC0C0C0), "tray-flash");
}

void Demonstration::AddToWhiteList(const DemoItem& item) {
    Print("  > white-list add \"%s\"%*s(line %d)\n", item.text.c_str(),
          std::max(1, 49 - static_cast<int>(item.text.size())), "", item.line);
    HWND tray = demo::IconTrayWindow();
    if (!tray) {
        Difference("no tray window that shows the icon: Korvane is not loaded yet");
        return;
    }
    PostMessageA(tray, WM_COMMAND, ID_TRAY_WHITE_LIST, 0);
    HWND dialog = demo::WaitForIconDialog(kWhiteListTitle);
    if (!dialog) {
        Difference("the White List dialog did not open");
        return;
    }
    demo::PressButton(dialog, IDC_ADD);
    HWND editor = demo::WaitForIconDialog(kSiteEditorTitle);
    if (!editor) {
        Difference("the site editor did not open");
        demo::PressButton(dialog, IDC_CLOSE);
        demo::WaitForWindowGone(dialog);
        return;
    }
    SetDlgItemTextA(editor, IDC_SITE_TEXT, item.text.c_str());
    demo::PressButton(editor, IDC_SITE_OK);
    demo::WaitForWindowGone(editor);
    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
    std::vector<std::string> items;
    const DWORD start = GetTickCount();
    do {
        items = demo::ListBoxItems(list);
        if (std::any_of(items.begin(), items.end(), [&](const std::string& i) { return ContainsNoCase(i, item.text); }))
            break;
        Sleep(20);
    } while (GetTickCount() - start < 5000);
    demo::PressButton(dialog, IDC_CLOSE);
    if (!demo::WaitForWindowGone(dialog)) Difference("the White List dialog did not close");

    std::string text;
    const std::string listFolder = WhiteListFolder(korvane_.folder);
    ReadWholeFile(listFolder + "\\WhiteList.txt", &text);
    std::vector<std::string> saved = Lines(text);
    saved.erase(std::remove(saved.begin(), saved.end(), std::string()), saved.end());
    Print("    the White List dialog lists: %s\n", Join(items, ", ").c_str());
    Print("    WhiteList.txt in %s holds: %s\n", listFolder.c_str(), Join(saved, ", ").c_str());
    if (std::none_of(items.begin(), items.end(), [&](const std::string& i) { return ContainsNoCase(i, item.text); }))
        Difference("the list does not show \"" + item.text + "\"");
    if (saved != items) Difference("WhiteList.txt does not hold what the dialog listed");
}

void Demonstration::CheckBlockedPopupsDialog() {
    Print("  > the tray menu's Blocked Popups\n");
    HWND tray = demo::IconTrayWindow();
    if (!tray) {
        Difference("no tray window that shows the icon");
        return;
    }
    PostMessageA(tray, WM_COMMAND, ID_TRAY_BLOCKED_POPUPS, 0);
    HWND dialog = demo::WaitForIconDialog(kLogTitle);
    if (!dialog) {
        Difference("the Blocked Popups dialog did not open");
        return;
    }
    const std::vector<std::string> shown = demo::ListBoxItems(GetDlgItem(dialog, IDC_LOG_LIST));
    const std::vector<std::string> expected(blockedUrls_.rbegin(), blockedUrls_.rend());
    Print("    \"%s\" lists, newest first:\n", kLogTitle);
    for (const std::string& line : shown) Print("      %s\n", line.c_str());
    if (shown == expected) Print("    every blocked popup is logged, newest first -- as expected\n");
    else Difference("expected, newest first: " + Join(expected, ", "));
    if (!options_.shots.empty()) SavePicture(demo::TakeWindowPicture(dialog), "blocked-popups");
    demo::PressButton(dialog, IDC_CLOSE);
    if (!demo::WaitForWindowGone(dialog)) Difference("the Blocked Popups dialog did not close");
}

void Demonstration::CheckWhiteListDialog() {
    Print("  > the tray menu's White List\n");
    HWND tray = demo::IconTrayWindow();
    if (!tray) return;
    PostMessageA(tray, WM_COMMAND, ID_TRAY_WHITE_LIST, 0);
    HWND dialog = demo::WaitForIconDialog(kWhiteListTitle);
    if (!dialog) {
        Difference("the White List dialog did not open");
        return;
    }
    whiteListShown_ = demo::ListBoxItems(GetDlgItem(dialog, IDC_SITE_LIST));
    Print("    \"%s\" lists: %s\n", kWhiteListTitle, Join(whiteListShown_, ", ").c_str());
    size_t added = 0;
    for (const DemoItem& item : script_.items)
        if (item.kind == DemoItem::Kind::WhiteListAdd) ++added;
    if (whiteListShown_.size() != added)
        Difference("expected the " + std::to_string(added) + " sites the reader added");
    if (!options_.shots.empty()) SavePicture(demo::TakeWindowPicture(dialog), "white-list");
    demo::PressButton(dialog, IDC_CLOSE);
    if (!demo::WaitForWindowGone(dialog)) Difference("the White List dialog did not close");
}

void Demonstration::CheckNothingHeld() {
    const standin::LiveReferences left = standin::CurrentLiveReferences();
    if (left.Total() == 0 && left.documentBstrs <= 0) {
        Print("    every window closed; the helper holds nothing of the browser's\n");
        return;
    }
    Difference("references left after closing: browsers " + std::to_string(left.browsers) + ", connection points " +
               std::to_string(left.connectionPoints) + ", document objects " + std::to_string(left.documentReferences) +
               ", document strings " + std::to_string(left.documentBstrs));
}

void Demonstration::SavePicture(const demo::Picture& picture, const char* name) {
    std::string folder = options_.shots;
    if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
    const std::string path = folder + name + ".bmp";
    if (!demo::SaveBmp(picture, path)) {
        Difference("could not save the picture " + path);
        return;
    }
    pictures_.push_back(name);
    Print("    picture: %s.bmp (%d x %d)\n", name, picture.width, picture.height);
}

int Demonstration::Summary() {
    struct Row {
        const char* what;
        long seen;
        long expected;
    };
    const Row rows[] = {
        {"popups blocked", blocked_, expectedBlocked_},
        {"popups let through", letThrough_, expectedLetThrough_},
        {"banner ads hidden", scans_.TotalAdsHidden(), expectedAds_},
        {"targets rewritten", scans_.TotalTargetsRewritten(), expectedTargets_},
    };
    Print("\nSummary                      seen  expected\n");
    for (const Row& row : rows)
        Print("  %-24s %6ld %9ld  %s\n", row.what, row.seen, row.expected, row.seen == row.expected ? "ok" : "DIFFERENT");
    Print("  %-24s %6lu\n", "blocked popups logged", static_cast<unsigned long>(blockedUrls_.size()));
    Print("  %-24s %6lu\n", "white list entries", static_cast<unsigned long>(whiteListShown_.size()));
    Print("  %-24s %6d %9d\n", "stand-in checks held", standin_.expectations - standin_.failures,
          standin_.expectations);
    if (!pictures_.empty()) Print("  pictures: %s\n", Join(pictures_, ", ").c_str());
    if (differences_ == 0) {
        Print("\nThe blocker did everything the demonstration expected.\n");
        return 0;
    }
    Print("\nThe blocker did something else than the demonstration expected: %d difference%s.\n", differences_,
          differences_ == 1 ? "" : "s");
    return 1;
}

void Usage() { fprintf(stderr, "usage: korvane_demo <session-file> [--shots FOLDER] [--verbose] [--timeout MS]\n"); }

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--shots" && i + 1 < argc) {
            options->shots = argv[++i];
        } else if (arg == "--timeout" && i + 1 < argc) {
            options->timeoutMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--verbose") {
            options->verbose = true;
        } else if (options->sessionFile.empty() && arg.compare(0, 2, "--") != 0) {
            options->sessionFile = arg;
        } else {
            return false;
        }
    }
    return !options->sessionFile.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Usage();
        return 2;
    }
    std::string text;
    if (!ReadWholeFile(options.sessionFile, &text)) {
        fprintf(stderr, "cannot read the session file %s\n", options.sessionFile.c_str());
        return 2;
    }
    demo::DemoScript script;
    std::vector<std::string> errors;
    if (!demo::ParseDemoScript(text, FolderOf(options.sessionFile), &script, &errors)) {
        for (const std::string& error : errors) fprintf(stderr, "%s: %s\n", options.sessionFile.c_str(), error.c_str());
        return 2;
    }
    if (!options.shots.empty()) CreateDirectoryA(options.shots.c_str(), nullptr);

    Print("Korvane demonstration: %s\n", options.sessionFile.c_str());
    const Registration korvane = FindRegistration();
    if (!korvane.ok) {
        fprintf(stderr, "Korvane is not installed: %s\n", korvane.problem.c_str());
        return 2;
    }
    Print("  browser helper object %s, served by %s\n", korvane.clsid.c_str(), korvane.dll.c_str());
    // The settings are read when a session starts: a broker that setup
    // started before they were stored ends first, and the session's first
    // browser event starts it again.
    const std::string broker = korvane.folder + "\\KorvaneBroker.exe";
    if (GetFileAttributesA(broker.c_str()) != INVALID_FILE_ATTRIBUTES) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION stopper{};
        std::string line = "\"" + broker + "\" /stop";
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &stopper)) {
            WaitForSingleObject(stopper.hProcess, 30000);
            CloseHandle(stopper.hThread);
            CloseHandle(stopper.hProcess);
        }
        Print("  the broker, %s, starts with the session\n", broker.c_str());
    }
    if (!StoreSetting("Flash", kFlashSetting) || !StoreSetting("Sound", kSoundSetting)) {
        fprintf(stderr, "cannot store the settings under HKEY_CURRENT_USER\\%s\n", kSettingsKey);
        return 2;
    }
    Print("  settings under HKEY_CURRENT_USER\\%s: \"Flash\" = %lu (the tray icon flashes, banner ads are "
          "hidden), \"Sound\" = %lu (silent)\n",
          kSettingsKey, kFlashSetting, kSoundSetting);

    int result = 0;
    {
        Demonstration demonstration(script, options, korvane);
        result = demonstration.Run();
    }
    return result;
}
