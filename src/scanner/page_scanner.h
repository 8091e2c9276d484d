// The pass over a loaded document: unload handlers, banner ads, link,
// area and form targets.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>

#include "base/com.h"

namespace korvane {

// Scans the document of eventBrowser. siteBrowser is the window's own
// browser: when the two are the same pointer the document is the window's
// top document. inDocumentComplete is non-zero for a scan started by
// DocumentComplete. Memory exhaustion abandons the scan with std::bad_alloc,
// which the caller catches.
HRESULT ScanPage(IWebBrowser2* eventBrowser, IWebBrowser2* siteBrowser, BYTE inDocumentComplete);

// Only the scan's naming of targets (links, areas, forms, base targets),
// for a page that completes while popups are allowed: unload handlers and
// banner ads are left alone then.
HRESULT ScanTargetNames(IWebBrowser2* eventBrowser, IWebBrowser2* siteBrowser);

// Whether the document browser shows holds a link, an area or a form that
// opens a new window (its target, else the document's base target, is a
// name: OpensNewWindow) to url, as NewWindow3 gives it (length UTF-16
// characters): a link's or an area's address equal to it, a form's up to
// the query. Looks at what the document holds now, whenever it was added,
// from its last element back, at most kOpenerWalkLimit of them: on a larger
// page the first ones are left to the names the scan kept. Frames are not
// looked into. Memory exhaustion throws std::bad_alloc.
bool PageOpensNewWindowTo(IWebBrowser2* browser, const wchar_t* url, size_t length);
constexpr long kOpenerWalkLimit = 10000;

// The DIV phase's judgement of a DIV's inner markup as the document gives
// it (length UTF-16 characters): whether the DIV is an advertisement
// container.
bool IsAdContainer(const wchar_t* markup, size_t length);

// Element index of the collection as its interface iid; null when the
// collection or the element cannot give it.
ComPtr<IUnknown> ItemAs(IHTMLElementCollection* collection, long index, REFIID iid);

}  // namespace korvane
