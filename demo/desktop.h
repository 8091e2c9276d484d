// What the demonstration does on the desktop, from outside the DLL: finds
// Korvane's hidden tray window in the process that shows its icon (the
// broker where one runs, else this one) and opens its dialogs the way the
// tray menu does, reads and drives them through their controls,
// watches the icon in Wine's notification area, and takes pictures of
// windows as BMP files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace demo {

// The process that shows Korvane's icon, menu and dialogs: the broker
// (KorvaneBroker.exe) where one runs, else this one.
DWORD IconProcess();
// The DLL's hidden "TrayIconClass" window in that process, or null.
HWND IconTrayWindow();

// A dialog of that process with that title, once it shows (null after
// timeoutMs).
HWND WaitForIconDialog(const char* title, DWORD timeoutMs = 10000);
bool WaitForWindowGone(HWND window, DWORD timeoutMs = 10000);
// Clicks a push button of a dialog as the user would: BN_CLICKED posted
// to the dialog, so the caller never waits for what the button opens.
void PressButton(HWND dialog, int id);
// Read as wide text: the system carries a list box's text to another
// process as such.
std::vector<std::string> ListBoxItems(HWND list);

// A picture of a part of the screen, 32 bits a pixel, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;  // 0x00RRGGBB
    DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
Picture TakePicture(const RECT& area);
// The window as it is on screen, after it has painted.
Picture TakeWindowPicture(HWND window);
// Pictures side by side, a gap of background between them.
Picture SideBySide(const std::vector<Picture>& pictures, int gap, DWORD background);
bool SaveBmp(const Picture& picture, const std::string& path);

// Wine's own notification area on a bare X server: a stand-alone window in
// which every icon is a child window. Empty when there is none.
std::vector<HWND> NotificationAreaIcons();
// The icons with a small margin, in screen coordinates.
RECT IconsArea(const std::vector<HWND>& icons);

// Korvane's two tray icons: a red "no entry" sign while popups are blocked,
// a green tick while they are allowed.
enum class IconLook { Blocking, Allowing, Other };
IconLook LookOf(const Picture& picture, const RECT& pictureArea, HWND icon);

// Pictures of the notification area taken while the icon flashes: one each
// time the icon's look changes, the first included. Watches until the
// flash is over, at most for the time given.
struct Flash {
    std::vector<Picture> frames;
    bool sawAllowing = false;
    bool endedBlocking = false;
};
Flash WatchFlash(DWORD milliseconds);

}  // namespace demo
