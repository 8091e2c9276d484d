// Everything at once: four browser windows on threads of their own open
// popups, complete pages and close; meanwhile the Blocked Popups and White
// List dialogs on the tray window's thread add and delete entries, real
// keys (F10, Ctrl) go through the keyboard hook, and a second process loads
// and unloads the DLL again and again. A watchdog ends a run that hangs and
// says where each part was. Afterwards nothing of the browser is held, the
// white list on disk is the last list saved, and the log holds exactly the
// popups that were blocked, newest first, as many as it keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "browser/session.h"
#include "dom/dom.h"
#include "dialogs/whitelist_entry_rules.h"
#include "korvane_idl.h"
#include "resource.h"
#include "support/korvane_session_test.h"
#include "support/test_support.h"
#include "tray/ui_test_support.h"
#include "whitelist/whitelist_store.h"

using namespace korvane;
using namespace korvane::test;
using standin::Session;
using standin::WindowInfo;

namespace {

constexpr int kBrowsers = 4;
constexpr int kRounds = 30;  // of each browser window
constexpr int kPopupsPerRound = 5;
constexpr DWORD kQuietLimitMs = 60000;  // no part moved for this long: a hang
constexpr size_t kLogHolds = 99;
constexpr char kNews[] = "http://news.example/index.html";
constexpr char kStory[] = "http://news.example/story.html";
constexpr char kFriend[] = "http://friend.example/";

// What each part last did, and every step any part took, for the
// watchdog; and what went wrong on threads that gtest must not be called
// from (this build of it is not thread-safe).
class Record {
public:
    void Step(int part, const std::string& what) {
        std::lock_guard<std::mutex> hold(lock_);
        if (last_.size() <= static_cast<size_t>(part)) last_.resize(part + 1);
        last_[part] = what;
        ++steps_;
    }
    void Problem(const std::string& what) {
        std::lock_guard<std::mutex> hold(lock_);
        problems_.push_back(what);
    }
    long Steps() {
        std::lock_guard<std::mutex> hold(lock_);
        return steps_;
    }
    std::string Parts() {
        std::lock_guard<std::mutex> hold(lock_);
        std::string text;
        for (size_t i = 0; i < last_.size(); ++i) text += "  part " + std::to_string(i) + ": " + last_[i] + "\n";
        return text;
    }
    std::vector<std::string> Problems() {
        std::lock_guard<std::mutex> hold(lock_);
        return problems_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> last_;
    std::vector<std::string> problems_;
    long steps_ = 0;
};

Record record;

// A key goes to the window that is active when it is sent. One that a
// dialog took while opening or closing would do there what keys do in any
// dialog (F10: its system menu) and hold it up: keys wait while a dialog,
// an editor or a question opens or closes.
std::mutex activation;

void Watchdog(HANDLE finished) {
    long seen = -1;
    DWORD quietSince = GetTickCount();
    while (WaitForSingleObject(finished, 1000) == WAIT_TIMEOUT) {
        const long steps = record.Steps();
        if (steps != seen) {
            seen = steps;
            quietSince = GetTickCount();
        } else if (GetTickCount() - quietSince >= kQuietLimitMs) {
            std::fprintf(stderr, "WATCHDOG: no part moved for %lu s: a deadlock or a hang. Last steps:\n%s",
                         kQuietLimitMs / 1000, record.Parts().c_str());
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

WindowInfo WindowFor(Session& session, const std::string& firstUrl) {
    for (const WindowInfo& window : session.Windows())
        if (window.openedByPage && window.firstUrl == firstUrl) return window;
    return WindowInfo();
}

long EventsIn(Session& session) {
    long events = 0;
    for (const standin::TimelineEntry& entry : session.timeline().Entries())
        if (entry.kind == standin::TimelineKind::Event) ++events;
    return events;
}

standin::SessionOptions Options(const std::string& site, DWORD stepTimeoutMs) {
    standin::SessionOptions options;
    options.siteFolder = site;
    options.onlyHelpers.push_back(CLSID_ViewSource);
    options.stepTimeoutMs = stepTimeoutMs;
    return options;
}

struct Browsing {
    std::vector<std::string> blocked;  // in the order they were blocked
    long events = 0;
};

std::string PageOf(int part, int round) {
    return "news.example/w" + std::to_string(part) + "-" + std::to_string(round) + ".html";
}

// One browser window after another, each on a page of its own: popups
// (each address new), white-listed ones, the user's own link (an address
// new too), another page in the same window.
void Browse(int part, const std::string& site, Browsing* out) {
    Session session(Options(site, 30000));
    auto check = [&](bool done, const std::string& what) {
        if (!done) record.Problem("browser " + std::to_string(part) + ": " + what + ": " + session.LastError());
        return done;
    };
    int serial = 0;
    for (int round = 0; round < kRounds; ++round) {
        record.Step(part, "round " + std::to_string(round) + ": opening its page");
        const int window = session.Open("http://" + PageOf(part, round));
        if (!check(window != 0, "opening the page")) break;
        const std::string context = "w" + std::to_string(window);
        for (int i = 0; i < kPopupsPerRound; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "w%d/%05d.html", part, ++serial);
            const std::string popup = std::string("http://ads.example/") + name;
            const std::string welcome = std::string(kFriend) + name;
            record.Step(part, "popup " + popup);
            if (!check(session.ScriptOpen(context, popup, ""), popup)) return;
            record.Step(part, "white-listed popup " + welcome);
            if (!check(session.ScriptOpen(context, welcome, ""), welcome)) return;
            const WindowInfo passed = WindowFor(session, welcome);
            if (!passed.open || passed.firstNavigationCancelled)
                record.Problem("a white-listed popup was blocked: " + welcome);
        }
        record.Step(part, "the user's link, then the story in " + context);
        const standin::ClickTarget clicked = session.DocumentOf(context)->FindClickable("a", "#out");
        standin::ElementSelector link;
        link.value = "out";
        if (!check(session.Click(context, link), "the user's link")) return;
        // Also when its page completed while F10 had switched blocking off:
        // the page's targets are named then too.
        if (WindowFor(session, clicked.href).firstNavigationCancelled)
            record.Problem("the user's link was blocked: " + clicked.href + " (target " + clicked.target + ")");
        if (!check(session.Load(context, kStory), "loading the story")) return;
        const WindowInfo own = session.Window(window);
        if (!own.open || !own.hwnd || own.quitCalled || own.url != kStory)
            record.Problem("the user's window " + context + " was closed or left its page");
        record.Step(part, "closing the windows of round " + std::to_string(round));
        if (!check(session.CloseAll(), "closing")) return;
    }
    // What was blocked, in the order it was: windows are numbered as they open.
    for (const WindowInfo& window : session.Windows())
        if (window.openedByPage && window.firstNavigationCancelled) out->blocked.push_back(window.firstUrl);
    out->events = EventsIn(session);
}

// F10 twice (blocking off, then on again) and Ctrl, as real keys into a
// window of their own. A key that another window took on its way (one of
// the browser windows that keep opening) is counted, not judged.
struct Keys {
    int sent = 0;
    int reached = 0;
};

void PressKeys(int part, const std::string& site, SharedState& shared, const std::atomic<bool>& stop, Keys* out) {
    Session session(Options(site, 3000));
    const int window = session.Open(kNews);
    if (!window) return record.Problem("keys: no window: " + session.LastError());
    while (!stop) {
        for (int i = 0; i < 2; ++i) {
            record.Step(part, "F10");
            std::lock_guard<std::mutex> hold(activation);
            const LONG before = shared.popupsAllowed;
            const bool reached = session.Key(window, VK_F10, true);
            session.Key(window, VK_F10, false);
            ++out->sent;
            if (!reached) continue;
            ++out->reached;
            if (!WaitUntil([&] { return shared.popupsAllowed != before; }, 2000))
                record.Problem("F10 reached a window but blocking did not switch");
        }
        record.Step(part, "Ctrl");
        {
            std::lock_guard<std::mutex> hold(activation);
            out->reached += session.Key(window, VK_CONTROL, true) ? 1 : 0;
            session.Key(window, VK_CONTROL, false);
            ++out->sent;
        }
        Sleep(100);
    }
    // Whatever keys went astray, blocking ends switched on.
    shared.popupsAllowed = 0;
}

// The tray menu's dialogs, driven as a user drives them, on the tray
// window's thread. lastSaved is the list as the last save wrote it.
struct Dialogs {
    int actions = 0;
    std::vector<std::string> lastSaved{kFriend};
};

HWND OpenFromTray(InstalledKorvane& korvane, UINT command, const char* title) {
    std::lock_guard<std::mutex> hold(activation);
    PostMessageA(korvane.TrayWindow(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
    return WaitForOwnWindow("#32770", title, 20000);
}

// A button's press as its dialog gets it. (BM_CLICK may fail while the
// dialog is not the active window, and the keys keep activating another.)
void Press(HWND dialog, int button) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

// Presses a button that opens a modal window titled title, and returns it.
HWND PressForWindow(HWND dialog, int button, const char* title) {
    std::lock_guard<std::mutex> hold(activation);
    Press(dialog, button);
    return WaitForOwnWindow("#32770", title, 20000);
}

bool CloseAndWait(HWND window, int button) {
    std::lock_guard<std::mutex> hold(activation);
    Press(window, button);
    if (WaitForWindowGone(window, 20000)) return true;
    // A save that failed says so in a message box, which holds the dialog.
    if (HWND box = FindOwnWindow("#32770", "White List Not Saved")) {
        record.Problem("a save failed: " + WindowText(GetDlgItem(box, 0xFFFF)));
        Press(box, IDOK);
    }
    return false;
}

void WorkDialogs(int part, InstalledKorvane& korvane, const std::atomic<bool>& stop, Dialogs* out) {
    for (int n = 0; !stop; ++n) {
        record.Step(part, "White List " + std::to_string(n));
        HWND dialog = OpenFromTray(korvane, ID_TRAY_WHITE_LIST, "Vantrell White List");
        if (!dialog) return record.Problem("the White List dialog did not open");
        HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
        HWND editor = PressForWindow(dialog, IDC_ADD, "Vantrell Web Site Editor");
        if (!editor) return record.Problem("the site editor did not open");
        SetWindowTextA(GetDlgItem(editor, IDC_SITE_TEXT), ("stress" + std::to_string(n) + ".example").c_str());
        if (!CloseAndWait(editor, IDC_SITE_OK)) return record.Problem("the site editor did not close");
        // Delete the lowest entry of the list but the friend one.
        const std::vector<std::string> items = ListItems(list);
        for (size_t i = items.size(); i-- > 1;) {
            if (items[i] == kFriend) continue;
            SelectItem(list, static_cast<int>(i));
            HWND box = PressForWindow(dialog, IDC_DELETE, "Delete");
            if (!box || !CloseAndWait(box, IDYES)) return record.Problem("the deletion was not confirmed");
            break;
        }
        Settle(dialog);
        const std::vector<std::string> shown = ListItems(list);
        if (!CloseAndWait(dialog, IDC_CLOSE)) return record.Problem("the White List dialog did not close");
        out->lastSaved = shown;
        out->actions += 4;

        record.Step(part, "Blocked Popups " + std::to_string(n));
        dialog = OpenFromTray(korvane, ID_TRAY_BLOCKED_POPUPS, "Vantrell Log");
        if (!dialog) return record.Problem("the Blocked Popups dialog did not open");
        list = GetDlgItem(dialog, IDC_LOG_LIST);
        if (!ListItems(list).empty()) {
            SelectItem(list, 0);
            HWND box = PressForWindow(dialog, IDC_ADD_LINK, "Add Link to White List");
            if (!box || !CloseAndWait(box, IDYES)) return record.Problem("Add Link was not confirmed");
            // The selection follows its line when new blocks push it down.
            std::string selected;
            for (LRESULT at = -1; at != SendMessageA(list, LB_GETCURSEL, 0, 0);) {
                at = SendMessageA(list, LB_GETCURSEL, 0, 0);
                selected = ListItems(list).at(static_cast<size_t>(at));
            }
            out->lastSaved.push_back(LinkEntryFromAddress(selected.c_str()).c_str());
        }
        Press(dialog, IDC_CLEAR);
        if (!CloseAndWait(dialog, IDC_CLOSE)) return record.Problem("the Blocked Popups dialog did not close");
        out->actions += 4;
    }
}

// The DLL loaded into a second process, a browser event there, unloaded.
void LoadElsewhere(int part, const std::string& dll, const std::atomic<bool>& stop, int* loads) {
    const std::string command = "\"" + ProgramDirectory() + "korvane_shared_probe.exe\" \"" + dll + "\" event";
    while (!stop) {
        record.Step(part, "a second process loads the DLL");
        const int code = RunProcess(command, 30000);
        if (code != 0) record.Problem("the second process ended with " + std::to_string(code));
        ++*loads;
    }
}

class EverythingAtOnce : public KorvaneSessionTest {
protected:
    static void SetUpTestSuite() {
        InstallOptions options;
        options.whiteList = {kFriend};
        InstallKorvane(options);
        WriteSitePage(site_->path(), "news.example/index.html", "<html><body>News</body></html>");
        for (int part = 1; part <= kBrowsers; ++part)
            for (int round = 0; round < kRounds; ++round)
                WriteSitePage(site_->path(), PageOf(part, round),
                              "<html><body><a id=\"out\" href=\"http://" + PageOf(part, round) +
                                  "?out\" target=\"_blank\">Out</a></body></html>");
        WriteSitePage(site_->path(), "news.example/story.html", "<html><body>Story</body></html>");
    }
    static void TearDownTestSuite() { RemoveKorvane(); }
};

TEST_F(EverythingAtOnce, NothingHangsLeaksOrGetsLost) {
    // The document strings' counter starts before the threads do.
    standin::BstrTrackingActive();
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread watchdog(Watchdog, finished);
    std::atomic<bool> stop{false};
    std::vector<Browsing> browsing(kBrowsers);
    Keys keys;
    Dialogs dialogs;
    int loads = 0;
    {
        std::vector<std::thread> browsers;
        // The parts start a moment apart: once, with all of them making
        // their first windows in the same instant, Wine aborted in its own
        // heap within the first second.
        for (int i = 0; i < kBrowsers; ++i) {
            browsers.emplace_back(Browse, i + 1, site_->path(), &browsing[i]);
            Sleep(200);
        }
        std::thread keyboard(PressKeys, kBrowsers + 1, site_->path(), std::ref(Shared()), std::cref(stop), &keys);
        std::thread menus(WorkDialogs, kBrowsers + 2, std::ref(*korvane_), std::cref(stop), &dialogs);
        std::thread loader(LoadElsewhere, kBrowsers + 3, korvane_->DllPath(), std::cref(stop), &loads);
        for (std::thread& browser : browsers) browser.join();
        stop = true;
        keyboard.join();
        menus.join();
        loader.join();
    }
    SetEvent(finished);
    watchdog.join();
    CloseHandle(finished);
    for (const std::string& problem : record.Problems()) ADD_FAILURE() << problem;

    // Nothing of the browser is held once every window has closed.
    ExpectNothingHeld("after everything at once");

    // The white list on disk is the last list saved.
    const std::string file = ReadFileBytes(korvane_->Folder() + "WhiteList.txt");
    std::vector<std::string> onDisk;
    for (const AnsiString& entry : ParseWhiteList(file.data(), file.size())) onDisk.emplace_back(entry.c_str());
    EXPECT_EQ(dialogs.lastSaved, onDisk);

    // The log: the popups blocked, newest first, as many as it keeps. The
    // windows took turns at random, so the newest of each window's blocks
    // must come in that window's order, and none that was not blocked.
    const std::vector<std::string> shown = korvane_->BlockedPopupsShown();
    size_t blocked = 0;
    for (const Browsing& each : browsing) blocked += each.blocked.size();
    EXPECT_EQ(std::min(blocked, kLogHolds), shown.size());
    for (const std::string& line : shown) {
        bool known = false;
        for (const Browsing& each : browsing)
            known = known || std::find(each.blocked.begin(), each.blocked.end(), line) != each.blocked.end();
        EXPECT_TRUE(known) << "logged but not blocked: " << line;
    }
    for (int i = 0; i < kBrowsers; ++i) {
        const std::vector<std::string>& all = browsing[i].blocked;
        std::vector<std::string> ofThis;
        for (const std::string& line : shown)
            if (std::find(all.begin(), all.end(), line) != all.end()) ofThis.push_back(line);
        const std::string mark = "browser " + std::to_string(i + 1);
        ASSERT_LE(ofThis.size(), all.size()) << mark;
        EXPECT_TRUE(std::equal(ofThis.begin(), ofThis.end(), all.rbegin())) << "the log of " << mark;
    }

    long events = keys.sent + dialogs.actions + loads;
    for (const Browsing& each : browsing) events += each.events;
    WriteFigure("everything_at_once",
                "4 browser windows on their own threads opening popups, completing pages and closing; "
                "the Blocked Popups and White List dialogs adding and deleting entries; F10 and Ctrl "
                "through the hook; a second process loading and unloading the DLL",
                std::to_string(events) + " events (" + std::to_string(keys.sent) + " keys, " +
                    std::to_string(dialogs.actions) + " dialog actions, " + std::to_string(loads) +
                    " loads elsewhere)",
                HasFailure() ? "FAILED (see the test's output)"
                             : "no crash, no deadlock, no leak; the white list on disk the last saved (" +
                                   std::to_string(onDisk.size()) + " entries); the log the " +
                                   std::to_string(shown.size()) + " newest of " + std::to_string(blocked) +
                                   " popups blocked, newest first; every F10 that reached its window "
                                   "switched blocking (" + std::to_string(keys.reached) + " keys reached it); "
                                   "every link the user clicked opened, on pages that completed while F10 "
                                   "had blocking off too");
}

}  // namespace
