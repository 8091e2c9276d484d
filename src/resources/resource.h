// Resource identifiers of Korvane.dll.
#pragma once

// ---- User interface: icons, the tray menu, the dialogs and their texts ----

// Icons: the tray icon's image while popups are blocked, and while they are
// allowed. The flash alternates the two, so they are kept consecutive.
#define IDI_BLOCKING 209
#define IDI_ALLOWING 210

// The tray menu. The tray icon's identifier in the notification area
// (TrayIconId) is the same number, but the menu is loaded by this name.
#define IDR_TRAY_MENU 212

// Dialogs.
#define IDD_ABOUT 213
#define IDD_HOT_KEYS 214
#define IDD_BLOCKED_POPUPS 215
#define IDD_WHITE_LIST 216
#define IDD_SITE_EDITOR 217
#define IDD_NOTIFICATION 218

// Controls. 220 "Close" is shared by three dialogs.
#define IDC_ABOUT_ICON 212
#define IDC_ABOUT_TEXT 213
#define IDC_LOG_LIST 218
#define IDC_CLOSE 220
#define IDC_GOTO 221
#define IDC_CLEAR 222
#define IDC_SITE_LIST 225
#define IDC_ADD 228
#define IDC_DELETE 229
#define IDC_EDIT 230
#define IDC_SITE_TEXT 232
#define IDC_SITE_OK 233
#define IDC_SITE_CANCEL 234
#define IDC_ADD_LINK 235
#define IDC_ADD_SITE 236
#define IDC_FLASH_CHECK 237
#define IDC_BEEP_CHECK 238
#define IDC_PLAY_CHECK 239
#define IDC_CHOOSE_FILE 240

// Tray menu commands.
#define ID_TRAY_ABOUT 32777
#define ID_TRAY_HOT_KEYS 32778
#define ID_TRAY_EXIT 32779
#define ID_TRAY_POPUPS_ALLOW 32780
#define ID_TRAY_POPUPS_DISALLOW 32781
#define ID_TRAY_BLOCKED_POPUPS 32784
#define ID_TRAY_ON_THE_WEB 32785
#define ID_TRAY_WHITE_LIST 32786
#define ID_TRAY_NOTIFICATION 32787
#define ID_TRAY_BANNERS_ALLOW 32790
#define ID_TRAY_BANNERS_DISALLOW 32791

// Texts of the confirmations and of the sound file chooser.
#define IDS_ADD_LINK_QUESTION 1001
#define IDS_ADD_LINK_CAPTION 1002
#define IDS_ADD_SITE_QUESTION 1003
#define IDS_ADD_SITE_CAPTION 1004
#define IDS_DELETE_QUESTION 1005
#define IDS_DELETE_CAPTION 1006
#define IDS_SOUND_FILTER_NAME 1007
#define IDS_SOUND_FILTER_PATTERN 1008
#define IDS_SOUND_TITLE 1009
// The message of a white list that could not be saved.
#define IDS_SAVE_FAILED_TEXT 1010
#define IDS_SAVE_FAILED_KEPT 1011
#define IDS_SAVE_FAILED_CAPTION 1012
