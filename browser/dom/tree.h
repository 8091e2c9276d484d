// The parsed document: nodes in a tree, the element lists the collections
// hand out, and the instruments' state. Built once by the parser; after
// that only element properties change (through the COM objects).
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/lock.h"
#include "dom.h"

namespace standin::detail {

class ElementObject;
class DocumentObject;

enum class NodeKind : unsigned char { Document, Element, Text, Comment };

struct Attribute {
    std::string name;  // lower case
    std::wstring value;
    bool valueless = false;  // written without "=value"
};

// What an unload handler property holds once it was written through COM.
struct EventProperty {
    bool written = false;
    VARTYPE type = VT_NULL;
    std::wstring text;      // for VT_BSTR
    bool nullText = false;  // VT_BSTR with a null pointer
};

struct Node {
    NodeKind kind = NodeKind::Element;
    bool rawText = false;  // a text node inside script, style and the like: written back as is
    std::string tag;       // lower case; "!" for a comment; empty for text
    std::vector<Attribute> attributes;
    std::wstring text;     // text and comment content
    Node* parent = nullptr;
    std::vector<Node*> children;
    long allIndex = -1;  // position in the all collection; -1 while not in the document
    long tagIndex = -1;  // position among the document's elements of the same tag

    EventProperty onunload;
    bool visibilityWritten = false;
    std::wstring visibility;

    ElementObject* wrapper = nullptr;  // the live COM object of this element, if any

    const Attribute* Find(const char* name) const;
    Attribute* Find(const char* name);
    // Sets or adds an attribute (written through COM, so it has a value).
    void Set(const char* name, const std::wstring& value);
    bool IsElement() const { return kind == NodeKind::Element; }
};

struct Tree {
    std::string url;
    std::wstring urlWide;
    std::wstring baseUrl;  // the document's address or its first <base href>

    std::deque<Node> nodes;  // owner of every node; addresses stay put
    Node* root = nullptr;    // the document node
    Node* html = nullptr;
    Node* body = nullptr;    // BODY, or the top FRAMESET of a frameset page

    std::vector<Node*> all;  // elements and comments in document order
    std::unordered_map<std::string, std::vector<Node*>> byTag;
    std::vector<FrameDecl> frames;

    DomOptions options;
    std::vector<PropertyWrite> writes;
    std::vector<std::string> reads;  // when options.logReads

    // The objects are apartment-threaded, but a test reads the log, looks
    // up clickables or drops its last reference from another thread: the
    // writes, the log, the rendered sizes and the identity of the live
    // objects are guarded.
    mutable korvane::CriticalSection lock;

    LONG liveRefs = 0;
    LONG liveObjects = 0;
    DocumentObject* documentWrapper = nullptr;

    Node* NewNode(NodeKind kind);
    // Numbers the nodes reachable from the root, fills all, byTag and
    // frames and settles the base address. Called once the tree is built.
    void Index();
    const std::vector<Node*>& ElementsOf(const std::string& tag) const;
};

// Counters shared by every document of the process.
void CountRef(Tree& tree, LONG delta);
void CountObject(Tree& tree, LONG delta);
LONG ProcessRefs();

}  // namespace standin::detail
