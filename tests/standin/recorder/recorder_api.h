// The recording helper object: a small in-process COM server registered as
// a browser helper object, used to test the browser stand-in. It records
// every call the browser makes on it, with the exact arguments, and can be
// told to cancel, to block popups the way a popup blocker does, to answer
// only IDispatch, to keep its sink or to leak its site. Plain C types only:
// the test program and the DLL each have their own runtime.
#pragma once

#include <windows.h>
#include <oaidl.h>

#define RECORDER_CLSID_TEXT "{71E2F91E-8F28-4C4E-B9E7-3E2D04F8FE5D}"
// {71E2F91E-8F28-4C4E-B9E7-3E2D04F8FE5D}
static const CLSID CLSID_RecordingHelper = {
    0x71e2f91e, 0x8f28, 0x4c4e, {0xb9, 0xe7, 0x3e, 0x2d, 0x04, 0xf8, 0xfe, 0x5d}};

enum RecorderMode {
    RECORDER_DISPATCH_ONLY = 0x0001,     // the sink does not answer DIID_DWebBrowserEvents2
    RECORDER_CANCEL_NAVIGATION = 0x0002, // Cancel BeforeNavigate2 when the URL contains the pattern
    RECORDER_CANCEL_NEW_WINDOW = 0x0004, // Cancel every NewWindow2
    RECORDER_BLOCK_POPUPS = 0x0008,      // NewWindow2 marks a popup pending (process-wide); the
                                         // next BeforeNavigate2 is cancelled and its window closed
    RECORDER_BLOCK_QUIT = 0x0010,        // ... with Quit on the navigating browser
    RECORDER_BLOCK_DESTROY = 0x0020,     // ... and/or DestroyWindow on its HWND
    RECORDER_KEEP_SINK = 0x0040,         // never Unadvise
    RECORDER_LEAK_SITE = 0x0080,         // keep one extra reference on the site for ever
    RECORDER_READ_DOCUMENT = 0x0100,     // on DocumentComplete, call get_Document on pDisp
};

struct RecorderConfig {
    unsigned mode;
    wchar_t cancelPattern[128];  // RECORDER_CANCEL_NAVIGATION; empty matches every URL
};

enum RecordKind {
    RECORD_CREATED = 1,  // an instance was built by the class factory
    RECORD_SET_SITE,     // SetSite: siteNull, siteHasBrowser, siteHasContainer, site
    RECORD_ADVISE,       // hr = FindConnectionPoint's or Advise's result, cookie
    RECORD_INVOKE,       // IDispatch::Invoke with everything it was given
    RECORD_UNADVISE,     // hr, cookie
    RECORD_BLOCK,        // a popup was blocked: hwnd, hwndResult, windowGoneAfter
    RECORD_DOCUMENT,     // RECORDER_READ_DOCUMENT: documentResult, documentAnswered
    RECORD_DESTROYED,    // the instance was freed
};

#define RECORDER_MAX_ARGS 8
#define RECORDER_TEXT 128

struct RecorderRecord {
    int kind;
    int instance;       // 1, 2, ... in order of creation
    DWORD thread;
    int apartment;      // APTTYPE of the calling thread, -1 when unknown
    HRESULT hr;
    DWORD cookie;
    // SetSite
    int siteNull;
    int siteHasBrowser;
    int siteHasContainer;
    void* site;         // the site's IUnknown identity
    void* siteBrowser;  // the site's IWebBrowser2 pointer
    // Invoke
    DISPID dispid;
    int riidIsNull;
    LCID lcid;
    WORD flags;
    int resultNull;
    int excepNull;
    int argErrNull;
    int paramsNull;
    UINT cArgs;
    UINT cNamedArgs;
    int rgvargNull;
    int namedNull;
    VARTYPE vt[RECORDER_MAX_ARGS];       // rgvarg[i].vt
    VARTYPE innerVt[RECORDER_MAX_ARGS];  // what a VT_BYREF|VT_VARIANT points at (VT_ILLEGAL: null)
    VARTYPE inner2Vt[RECORDER_MAX_ARGS]; // one level further
    void* disp[RECORDER_MAX_ARGS];       // VT_DISPATCH value; *ppdisp for VT_BYREF|VT_DISPATCH
    int textNull[RECORDER_MAX_ARGS];     // the BSTR of a by-reference string was null
    UINT textLength[RECORDER_MAX_ARGS];
    wchar_t text[RECORDER_MAX_ARGS][RECORDER_TEXT];
    long number[RECORDER_MAX_ARGS];      // VT_I4 inside a by-reference VARIANT, or VT_I4 or VT_UI4 itself
    VARIANT_BOOL boolValue[RECORDER_MAX_ARGS];  // *pboolVal when the call came in
    int ctrlDown;       // GetKeyState(VK_CONTROL) on the calling thread
    int shiftDown;
    // Blocking
    SHANDLE_PTR hwnd;
    HRESULT hwndResult;
    int windowGoneAfter;
    // get_Document
    HRESULT documentResult;
    int documentAnswered;  // a document that answers IHTMLDocument2
};

#ifdef __cplusplus
extern "C" {
#endif
void RecorderConfigure(const struct RecorderConfig* config);
void RecorderReset(void);  // forgets the records and the pending popup
int RecorderCount(void);
int RecorderGet(int index, struct RecorderRecord* record);
long RecorderLiveObjects(void);
// Releases what RECORDER_LEAK_SITE kept.
void RecorderReleaseLeaks(void);
// A global WH_KEYBOARD hook in this DLL, as a hot-key hook would install.
int RecorderInstallKeyHook(void);
void RecorderRemoveKeyHook(void);
long RecorderKeyHookCount(UINT virtualKey, int down);
#ifdef __cplusplus
}
#endif
