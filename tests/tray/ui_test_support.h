// Helpers for tests that work the product's windows the way a user would:
// find a dialog, message box or menu window of this process, press its
// buttons and keys from a second thread while the first runs the modal
// loop, and stand in for the default browser.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace korvane::test {

// Sets moduleInstance to this program (which carries the product's
// resources) and loads iconBlocking and iconAllowing from it. Then installs
// the process's tray icon hidden, as start-up does, once per process.
void PrepareUserInterface();

// A visible top-level window of this process; null arguments match any.
HWND FindOwnWindow(const char* className, const char* title);
HWND WaitForOwnWindow(const char* className, const char* title, DWORD timeoutMs = 15000);
// Waits until the window is destroyed.
bool WaitForWindowGone(HWND window, DWORD timeoutMs = 15000);

std::string WindowText(HWND window);
std::string ClassOf(HWND window);

// Runs open on this thread (where it enters a modal loop: a dialog, a
// message box, a menu) and drive on a second thread meanwhile. When drive
// returns, any dialog, message box or menu of this process still open is
// closed, so a failing test ends instead of hanging.
void RunWhileModal(const std::function<void()>& open, const std::function<void()>& drive);

// The thread that runs the modal loops (the one that called
// RunWhileModal), and the window that has its keyboard focus.
DWORD ModalThreadId();
HWND ModalThreadFocus();

// Returns once the modal thread has taken out of its queue every message
// posted to it before this call.
bool PassPostedMessages(DWORD timeoutMs = 15000);

// Presses a button and waits for its handler to finish. Not for buttons
// that open a modal window: use PressLater for those.
void Press(HWND dialog, int id);
// Posts the press; returns at once.
void PressLater(HWND dialog, int id);
// Returns once the modal thread is back in a message loop: after a modal
// window that a handler opened is gone (WaitForWindowGone), the rest of
// that handler has then run.
void Settle(HWND window);
// Posts a key press (down and up) to the control that has the focus on the
// modal thread, or to window when there is none.
void PostKey(HWND window, UINT virtualKey);

// A control's rectangle in its dialog's client coordinates, and a rectangle
// in dialog units converted for that dialog with MapDialogRect.
RECT ControlRect(HWND dialog, int id);
RECT DialogUnitsRect(HWND dialog, int x, int y, int width, int height);

// The controls of a dialog in their order: id, class, text.
struct ControlInfo {
    int id;
    std::string className;
    std::string text;
    LONG style;
    RECT rect;
};
std::vector<ControlInfo> Controls(HWND dialog);

// A message box's text and its answer (Yes or No); Answer waits until the
// box is gone.
std::string MessageBoxText(HWND box);
void Answer(HWND box, int buttonId);

// Items of a list box, top to bottom.
std::vector<std::string> ListItems(HWND listBox);
void SelectItem(HWND listBox, int index);

// Makes a small program of the build the "browser": the open command of
// HTML files (through its own file classes) and of the http protocol, each
// with a tag that shows which one ran. Restores every key it touched when
// it goes; what it changed is also kept in a file beside the program until
// then, so a run that died half-way is repaired by the next one.
class BrowserStandIn {
public:
    BrowserStandIn();
    ~BrowserStandIn();
    BrowserStandIn(const BrowserStandIn&) = delete;
    BrowserStandIn& operator=(const BrowserStandIn&) = delete;

    // The recorder's path, quoted, for building open commands.
    std::string QuotedRecorder() const;
    // Sets the default value of HKCR\<key> (creating the key); a null
    // value deletes the key with everything below it.
    void SetClassesValue(const std::string& key, const char* value);

    // Waits until no recorder runs any more and returns the command lines
    // recorded since the last call.
    std::vector<std::string> TakeRecords();

private:
    struct Saved {
        std::string key;
        bool existed;
        bool hadValue;
        std::string value;
    };
    void Remember(const std::string& key);
    void WriteBackup() const;
    static void Restore(const std::vector<Saved>& saved);
    std::vector<Saved> saved_;
    std::string recordFile_;
    std::string backupFile_;
};

}  // namespace korvane::test
