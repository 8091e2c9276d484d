// The document a window or frame shows, behind a small interface: the
// HTML parser and document object model come from browser/dom when that
// library is built; until then a simple markup scanner stands in, which
// finds frames and clickable elements but offers no IHTMLDocument2.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/com.h"

namespace standin {

struct DeclaredFrame {
    std::wstring name;
    std::wstring src;  // as written; resolved against the document's URL by the caller
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
    std::wstring href;        // href, or a form's action; as written
    std::wstring target;      // the element's own target attribute
    std::wstring baseTarget;  // the document's <base target>, for elements without one
};

class PageDocument {
public:
    virtual ~PageDocument() = default;

    // Parses a page; html holds the file's bytes. Never null.
    static std::shared_ptr<PageDocument> Parse(const std::string& html, const std::wstring& url);

    // The document as IHTMLDocument2 (a new reference), or null when the
    // document model offers none.
    virtual korvane::ComPtr<IDispatch> Html() = 0;
    // Frames and iframes in document order.
    virtual std::vector<DeclaredFrame> Frames() = 0;
    virtual Clickable FindClickable(const ElementSelector& selector) = 0;
    virtual std::wstring Title() = 0;
};

// The stand-in's own scanner, used when browser/dom is not built.
std::shared_ptr<PageDocument> ParseWithScanner(const std::string& html);

}  // namespace standin
