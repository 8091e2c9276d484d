// The document a window or frame shows: a page parsed by the document
// stand-in (browser/dom), seen through what the browser needs of it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/com.h"

namespace standin {

class Document;

struct DeclaredFrame {
    std::wstring name;
    std::wstring src;  // absolute; "about:blank" when the frame names none
};

// How a session names the element it clicks.
struct ElementSelector {
    enum class Kind { Id, Index, Text };
    std::string tag = "a";  // a, area or form
    Kind kind = Kind::Id;
    std::string value;      // id or text (UTF-8)
    int index = 0;          // 0-based, in document order among elements of the tag
};

// What a click reads from the element at the moment of the click.
struct Clickable {
    bool found = false;
    std::wstring href;        // absolute: href, or a form's action (the page itself when it has none)
    std::wstring target;      // the element's own target attribute
    std::wstring baseTarget;  // the document's <base target>, for elements without one
};

class PageDocument {
public:
    virtual ~PageDocument() = default;

    // Parses a page; html holds the file's bytes, read in the ANSI code
    // page as the browser reads a page without a declared character set.
    // Never null.
    static std::shared_ptr<PageDocument> Parse(const std::string& html, const std::wstring& url);

    // The document as IHTMLDocument2 (a new reference), or null.
    virtual korvane::ComPtr<IDispatch> Html() = 0;
    // Frames and inline frames in document order.
    virtual std::vector<DeclaredFrame> Frames() = 0;
    // Reads the element as it is now: a target the page scan rewrote
    // through the document's interfaces is the one returned.
    virtual Clickable FindClickable(const ElementSelector& selector) = 0;
    virtual std::wstring Title() = 0;
    // The document stand-in itself, for its instruments (property writes,
    // live references).
    virtual std::shared_ptr<Document> Dom() = 0;
};

}  // namespace standin
