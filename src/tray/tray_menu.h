// What the tray icon does for the user: its menu and the commands the menu
// sends, and the mouse actions on the icon.
#pragma once

#include <windows.h>

#include "tray/tray_icon.h"

namespace korvane {

// The product's web page, opened by "On the Web".
constexpr char kProductWebPage[] = "http://www.vantrell.com/";

// Carries out one tray menu command on tray (unknown commands do nothing).
// The dialogs it opens are modal: it returns when they have ended.
void RunTrayCommand(TrayIcon& tray, UINT command);

// Switches popup blocking, with the icon and tip text that go with it.
// Nothing is stored: blocking comes back on with the next start.
void SetPopupsAllowed(TrayIcon& tray, bool allowed);

}  // namespace korvane
