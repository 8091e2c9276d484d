// The HTML documents the browser stand-in hands to the product: real pages
// parsed by a tolerant parser and walked through the real mshtml.h
// interfaces (IHTMLDocument2, IHTMLElementCollection, IHTMLElement and the
// element interfaces of each tag), with instruments for the tests: a log of
// every property write (and of every read, when asked), counts of live
// references and live BSTRs, injected failures and the rendered sizes of
// images.
//
// The COM objects are apartment-threaded like MSHTML's: use a document's
// objects on one thread at a time. Document's own methods (the log,
// FindClickable, the counters) may be called from any thread meanwhile.
// Every object keeps its document's tree alive, so a pointer a caller
// forgot to release never dangles (it shows as a live reference instead).
//
// What each getter answers (NULL or empty strings, sizes, out-of-range
// items) follows Wine's MSHTML and is listed in objects.h; how pages become
// trees is listed in html_parser.h, and how markup is written back in
// serialize.h.
#pragma once

#include <windows.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace standin {

namespace detail {
struct Tree;
}

// A frame the document declares: a FRAME of a frameset or an IFRAME, in
// document order. The browser stand-in gives each its own document and
// browser object, as Internet Explorer does (IFRAMEs included: they get a
// browser object and a DocumentComplete of their own).
struct FrameDecl {
    std::string name;  // the name attribute (the frame's window name), empty if none
    std::string src;   // absolute; "about:blank" when the element names none
    bool inlineFrame = false;  // true for an IFRAME
};

// What a click on a link, an image-map area or a form submission would do.
struct ClickTarget {
    bool found = false;
    std::string href;    // absolute address (a form's action; the page itself if it has none)
    std::string target;  // the current target attribute, empty when none
};

// A property write made through the COM interfaces.
struct PropertyWrite {
    std::string tag;       // lower case, "img"
    long index = -1;       // position among the document's elements of that tag
    std::string id;        // the element's id attribute, empty if none
    std::string property;  // "width", "height", "alt", "target", "title", "onunload", "visibility"
    std::string value;     // "0", "z9z0_blank", "(null)", "VT_BSTR(null)", "VT_BSTR(468)", "VT_I4(0)"
    VARTYPE type = VT_EMPTY;  // VT_BSTR or VT_I4 for typed properties; the VARIANT's own type otherwise
    // "img#3 width = 0", "a#2 target = z9z0_blank", "body#0 onunload = VT_BSTR(null)"
    std::string Text() const;
};

// The small structs below have constructors rather than being plain
// aggregates: braced lists of aggregates holding strings trip a false
// "may be used uninitialized" warning of GCC 12 at -O3 in callers' tests.

// An element chosen by tag name and position among the document's elements
// of that tag; index -1 means every element of the tag, tag "" every tag.
struct ElementRef {
    ElementRef() = default;
    ElementRef(std::string tagName, long position = -1) : tag(std::move(tagName)), index(position) {}
    std::string tag;
    long index = -1;
};

// Failures to inject. Tag names are lower case; a collection is named by
// the tag name given to tags(), "*" names the document's all collection and
// "" names every collection.
struct Failures {
    HRESULT allResult = S_OK;         // get_all fails with this when it is a failure
    bool allNull = false;             // get_all answers S_OK and NULL
    std::vector<std::string> tagsFail;  // tags(name) answers E_FAIL
    std::vector<std::string> tagsNull;  // tags(name) answers S_OK and NULL
    std::vector<std::string> lengthFail;  // get_length of these collections answers E_FAIL
    struct Item {
        Item() = default;
        Item(std::string name, long position = -1) : collection(std::move(name)), index(position) {}
        std::string collection;
        long index = -1;  // -1: every index
    };
    std::vector<Item> itemFail;  // item(index) of these collections answers E_FAIL
    struct Interface {
        Interface() = default;
        Interface(ElementRef which, const IID& id) : element(std::move(which)), iid(id) {}
        ElementRef element;
        IID iid = IID_NULL;
    };
    std::vector<Interface> missingInterfaces;  // QueryInterface answers E_NOINTERFACE
    struct Property {
        Property() = default;
        Property(ElementRef which, std::string name) : element(std::move(which)), property(std::move(name)) {}
        ElementRef element;
        std::string property;  // as in PropertyWrite; "innerHTML", "src", "href", "style" too
    };
    std::vector<Property> readFail;   // the getter answers E_FAIL
    std::vector<Property> writeFail;  // the setter answers E_FAIL (and is not logged)
};

// The size an image is rendered at when its width or height attribute does
// not give one (Internet Explorer reports the loaded picture's size).
struct ImageSize {
    ImageSize() = default;
    ImageSize(std::string what, long w, long h) : match(std::move(what)), width(w), height(h) {}
    std::string match;  // "#id" matches the id attribute; other text a substring of the src attribute
    long width = 0;
    long height = 0;
};

struct DomOptions {
    std::vector<ImageSize> imageSizes;  // first match wins
    long defaultImageWidth = 0;         // an image nothing gives a size: never loaded
    long defaultImageHeight = 0;
    // With scripting on (the browser's default) NOSCRIPT holds raw text, as
    // in Internet Explorer; off, its markup becomes elements.
    bool scripting = true;
    // Log every property an element's getters are asked for (ReadLog).
    bool logReads = false;
    Failures failures;
};

class Document {
public:
    // Parses any bytes at all; never fails for bad markup. url is the
    // document's address, against which relative addresses resolve. The
    // bytes are read in the ANSI code page.
    static std::shared_ptr<Document> Parse(const std::string& html, const std::string& url,
                                           const DomOptions& options = {});

    // The document object, a new reference.
    Microsoft::WRL::ComPtr<IHTMLDocument2> Html();
    const std::string& Url() const;
    const std::vector<FrameDecl>& Frames() const;

    // tag is "a", "area" or "form"; selector "#id" (or the name attribute),
    // a 0-based index among the elements of that tag, or "text:<text>" (the
    // element's text with white space collapsed: exact match first, else the
    // first that contains it). Reads the element as it is now, after any
    // writes made through COM.
    ClickTarget FindClickable(const std::string& tag, const std::string& selector) const;

    // What a page's script does with createElement and appendChild: a new
    // element (tag "a" or "form") with these attributes, and the text
    // given, at the end of the body (the document's end when it has none),
    // and so last of the document's elements. The collections handed out
    // already hold it, as the browser's collections are live. To be called
    // on the document's own thread, where its script runs.
    void AppendElement(const std::string& tag, const std::vector<std::pair<std::string, std::string>>& attributes,
                       const std::string& text);

    // Instruments.
    std::vector<PropertyWrite> Writes() const;
    std::vector<std::string> WriteLog() const;  // Text() of each write
    // With DomOptions::logReads, each element property read, in order:
    // "div#2 innerHTML", "img#0 src".
    std::vector<std::string> ReadLog() const;
    void ClearWrites();
    long LiveRefs() const;     // references callers hold on this document's objects
    long LiveObjects() const;  // this document's COM objects now alive
    Failures& InjectedFailures();  // may be changed at any time
    void SetImageSizes(const std::vector<ImageSize>& sizes, long defaultWidth = 0,
                       long defaultHeight = 0);
    // Number of elements of a tag name (lower case), as tags() counts them.
    long CountOf(const std::string& tag) const;

    // For Parse; a document is only ever made from a parsed tree.
    explicit Document(std::shared_ptr<detail::Tree> tree);

private:
    std::shared_ptr<detail::Tree> tree_;
};

// References held on the objects of every document of the process.
long LiveDomRefs();
// BSTRs the documents handed out (results of getters, VT_BSTR VARIANTs) that
// the caller has not freed yet; -1 when they cannot be counted.
long LiveBstrs();
bool BstrTrackingActive();
// Leaves BSTRs uncounted and oleaut32's string cache on, as in a browser:
// Wine's malloc spy costs every free a search of all live blocks, which
// would swamp what a benchmark measures. Call before the first document.
void DisableBstrTracking();

// A page of about `elements` elements for benchmarks: paragraphs, links with
// and without targets, images (some of banner size or with ad-like
// addresses), divs around them, objects, embeds, forms and image maps.
// The same seed gives the same page.
std::string GeneratePage(int elements, unsigned seed);

}  // namespace standin
