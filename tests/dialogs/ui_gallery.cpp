// Opens the tray icon, the tray menu and every dialog with sample content,
// one after the other, for scripts/screenshots.sh to photograph.
//
//   korvane_ui_gallery <folder>
// For each picture it writes "<name> <width>x<height>+<x>+<y>" to
// <folder>\shot.txt and waits for <folder>\shot.done, which the script
// creates once it has taken the picture.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resource.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "state/string_ring.h"
#include "support/test_support.h"
#include "tray/tray_icon.h"
#include "tray/ui_test_support.h"
#include "whitelist/whitelist_store.h"

using namespace korvane;
using namespace korvane::test;

namespace {

std::string folder;

RECT RectOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

RECT Union(const std::vector<HWND>& windows) {
    RECT all = RectOf(windows.front());
    for (HWND window : windows) {
        RECT rect = RectOf(window);
        UnionRect(&all, &all, &rect);
    }
    return all;
}

// Asks the script for a picture of rect and waits until it is taken.
void Shoot(const char* name, RECT rect, HWND repaint = nullptr) {
    if (repaint) RedrawWindow(repaint, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(400);  // let the display catch up with the painting
    char request[256];
    snprintf(request, sizeof request, "%s %ldx%ld+%ld+%ld\n", name, rect.right - rect.left,
             rect.bottom - rect.top, rect.left, rect.top);
    const std::string temp = folder + "shot.tmp", ready = folder + "shot.txt",
                      done = folder + "shot.done";
    WriteFileBytes(temp, request);
    MoveFileExA(temp.c_str(), ready.c_str(), MOVEFILE_REPLACE_EXISTING);
    for (int i = 0; i < 600 && !FileExists(done); ++i) Sleep(100);
    DeleteFileA(done.c_str());
    printf("%s", request);
}

// Opens a dialog as the tray menu does; prepare runs before its picture,
// more after it (for pictures of windows the dialog opens).
void ShootDialog(UINT command, const char* title, const char* name,
                 const std::function<void(HWND)>& prepare = nullptr,
                 const std::function<void(HWND)>& more = nullptr) {
    RunWhileModal(
        [command] { SendMessageA(TheTrayIcon().HiddenWindow(), WM_COMMAND, command, 0); },
        [&] {
            HWND dialog = WaitForOwnWindow("#32770", title);
            if (!dialog) return;
            if (prepare) prepare(dialog);
            Shoot(name, RectOf(dialog), dialog);
            if (more) more(dialog);
            SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
}

std::vector<HWND> MenuWindows() {
    std::vector<HWND> windows;
    for (HWND window = FindWindowExA(nullptr, nullptr, "#32768", nullptr); window;
         window = FindWindowExA(nullptr, window, "#32768", nullptr))
        if (IsWindowVisible(window)) windows.push_back(window);
    return windows;
}

// The icons in Wine's notification area, with a small margin. Only the
// icons: the area's frame belongs to a window manager, and there is none.
RECT IconsIn(HWND area) {
    std::vector<HWND> icons;
    for (HWND icon = FindWindowExA(area, nullptr, "__winex11_tray_icon", nullptr); icon;
         icon = FindWindowExA(area, icon, "__winex11_tray_icon", nullptr))
        icons.push_back(icon);
    if (icons.empty()) return RectOf(area);
    RECT all = Union(icons);
    InflateRect(&all, 3, 2);
    if (all.left < 0) all.left = 0;
    if (all.top < 0) all.top = 0;
    return all;
}

// A plain desktop behind everything, so pictures that take in more than
// one window (a menu with its submenu) show it between them.
HWND CreateDesktopBackground() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = CreateSolidBrush(RGB(0, 128, 128));
    windowClass.lpszClassName = "KorvaneGalleryDesktop";
    RegisterClassA(&windowClass);
    HWND desktop = CreateWindowExA(WS_EX_NOACTIVATE, windowClass.lpszClassName, "", WS_POPUP, 0, 0,
                                   GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                   nullptr, nullptr, windowClass.hInstance, nullptr);
    SetWindowPos(desktop, HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    UpdateWindow(desktop);
    return desktop;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    folder = argv[1];
    if (folder.back() != '\\') folder += '\\';
    PrepareUserInterface();
    DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    HWND desktop = CreateDesktopBackground();

    // The tray icon in Wine's notification area, blocking and allowing.
    TheTrayIcon().ShowInTray();
    PumpMessages(500);
    HWND area = FindWindowA("__winex11_standalone_tray", nullptr);
    if (area) {
        Shoot("tray-icon-blocking", IconsIn(area), area);
        SendMessageA(TheTrayIcon().HiddenWindow(), WM_COMMAND, ID_TRAY_POPUPS_ALLOW, 0);
        PumpMessages(500);
        Shoot("tray-icon-allowing", IconsIn(area), area);
        SendMessageA(TheTrayIcon().HiddenWindow(), WM_COMMAND, ID_TRAY_POPUPS_DISALLOW, 0);
    }

    // The tray menu, with the "Banner Ads" submenu open.
    SetCursorPos(160, 120);
    RunWhileModal(
        [] { SendMessageA(TheTrayIcon().HiddenWindow(), TrayCallbackMessage, TrayIconId, WM_RBUTTONUP); },
        [] {
            HWND menu = WaitForOwnWindow("#32768", nullptr);
            if (!menu) return;
            for (UINT key : {VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT}) PostKey(menu, key);
            for (int i = 0; i < 50 && MenuWindows().size() < 2; ++i) Sleep(50);
            RECT all = Union(MenuWindows());
            InflateRect(&all, 6, 6);
            Shoot("tray-menu", all);
            PostKey(menu, VK_ESCAPE);
            PostKey(menu, VK_ESCAPE);
        });
    PumpMessages(200);

    ShootDialog(ID_TRAY_ABOUT, "About Vantrell", "about");
    ShootDialog(ID_TRAY_HOT_KEYS, "Vantrell Hot Keys", "hot-keys");

    for (const char* address :
         {"http://popunder.example.com/", "http://banners.example.org/click?u=42",
          "http://www.example.net/offer/window.asp?id=3",
          "http://ads.example.com/popup.html?campaign=17"})
        TheBlockedPopupLog().Add(address);
    ShootDialog(ID_TRAY_BLOCKED_POPUPS, "Vantrell Log", "blocked-popups",
                [](HWND dialog) { SelectItem(GetDlgItem(dialog, IDC_LOG_LIST), 1); });

    std::vector<AnsiString> sites;
    for (const char* site : {"https://bank.example.net", "http://intranet.example.org",
                             "http://www.example.com"})
        sites.emplace_back(site);
    TheWhiteList().ReplaceAll(sites);
    ShootDialog(
        ID_TRAY_WHITE_LIST, "Vantrell White List", "white-list",
        [](HWND dialog) { SelectItem(GetDlgItem(dialog, IDC_SITE_LIST), 1); },
        [](HWND dialog) {
        PressLater(dialog, IDC_EDIT);
        HWND editor = WaitForOwnWindow("#32770", "Vantrell Web Site Editor");
        if (!editor) return;
        // The editor opens at the same corner: show it over the list.
        Shoot("site-editor", RectOf(editor), editor);
        Press(editor, IDC_SITE_CANCEL);
        WaitForWindowGone(editor);
        Settle(dialog);
    });
    DeleteFileA(TheWhiteList().FilePath().c_str());

    sharedState->flashOn = 1;
    sharedState->soundOn = 1;
    sharedState->soundIsBeep = 1;
    ShootDialog(ID_TRAY_NOTIFICATION, "Vantrell Notification Setting", "notification");
    DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    TheTrayIcon().HideFromTray();
    DestroyWindow(desktop);
    return 0;
}
