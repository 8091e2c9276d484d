// The parsed document: nodes in a tree, the element lists the collections
// hand out, and the instruments' state. Built once by the parser; after
// that only element properties change (through the COM objects).
//
// Everything a large document holds for as long as it lives (its nodes,
// their text, attributes and lists, the properties written through COM,
// the logs) is allocated from a heap of the document's own, and goes with
// it at once. A large page makes some million blocks; kept in the process's
// heap beside another page's, the holes each leaves when it goes break
// that heap into fragments that Wine's allocator walks on every later
// allocation, so that each page a window shows would cost more than the
// one before, for the stand-in and the helper alike.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/lock.h"
#include "dom.h"

namespace standin::detail {

class ElementObject;
class DocumentObject;

// A Win32 heap of one document, or the process's allocator for a small
// one (each heap reserves a megabyte of address space, and a page may have
// a thousand frames) or should a heap not be had. Once Abandon is called,
// blocks of the document's heap are no longer given back one by one: the
// heap is destroyed whole with the object.
class DocumentHeap final : public std::pmr::memory_resource {
public:
    explicit DocumentHeap(bool own);
    ~DocumentHeap() override;
    DocumentHeap(const DocumentHeap&) = delete;
    DocumentHeap& operator=(const DocumentHeap&) = delete;
    void Abandon() { abandoned_ = true; }

private:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void* block, size_t bytes, size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    HANDLE heap_;
    bool abandoned_ = false;
};

struct Node;
using NodeList = std::pmr::vector<Node*>;

enum class NodeKind : unsigned char { Document, Element, Text, Comment };

// Attributes and nodes take their document's heap from the list that holds
// them (uses-allocator construction), so none is made without one.
struct Attribute {
    using allocator_type = std::pmr::polymorphic_allocator<char>;
    explicit Attribute(const allocator_type& heap) : name(heap), value(heap) {}
    Attribute(const Attribute& other, const allocator_type& heap)
        : name(other.name, heap), value(other.value, heap), valueless(other.valueless) {}
    Attribute(Attribute&& other, const allocator_type& heap)
        : name(std::move(other.name), heap), value(std::move(other.value), heap),
          valueless(other.valueless) {}

    std::pmr::string name;  // lower case
    std::pmr::wstring value;
    bool valueless = false;  // written without "=value"
};

// What an unload handler property holds once it was written through COM.
struct EventProperty {
    explicit EventProperty(const std::pmr::polymorphic_allocator<char>& heap) : text(heap) {}
    bool written = false;
    VARTYPE type = VT_NULL;
    std::pmr::wstring text;  // for VT_BSTR
    bool nullText = false;   // VT_BSTR with a null pointer
};

struct Node {
    using allocator_type = std::pmr::polymorphic_allocator<char>;
    explicit Node(const allocator_type& heap)
        : attributes(heap), text(heap), children(heap), onunload(heap), visibility(heap) {}

    NodeKind kind = NodeKind::Element;
    bool rawText = false;  // a text node inside script, style and the like: written back as is
    std::string tag;       // lower case; "!" for a comment; empty for text
    std::pmr::vector<Attribute> attributes;
    std::pmr::wstring text;  // text and comment content
    Node* parent = nullptr;
    NodeList children;
    long allIndex = -1;  // position in the all collection; -1 while not in the document
    long tagIndex = -1;  // position among the document's elements of the same tag

    EventProperty onunload;
    bool visibilityWritten = false;
    std::pmr::wstring visibility;

    ElementObject* wrapper = nullptr;  // the live COM object of this element, if any

    const Attribute* Find(const char* name) const;
    Attribute* Find(const char* name);
    // Sets or adds an attribute (written through COM, so it has a value).
    void Set(const char* name, std::wstring_view value);
    bool IsElement() const { return kind == NodeKind::Element; }
};

// A property write as the log keeps it; PropertyWrite is made of it when
// asked for.
struct LoggedWrite {
    using allocator_type = std::pmr::polymorphic_allocator<char>;
    LoggedWrite(const Node* written, const char* name, std::string_view text, VARTYPE kind,
                const allocator_type& heap)
        : node(written), property(name), value(text, heap), type(kind) {}
    LoggedWrite(const LoggedWrite& other, const allocator_type& heap)
        : node(other.node), property(other.property), value(other.value, heap), type(other.type) {}
    LoggedWrite(LoggedWrite&& other, const allocator_type& heap)
        : node(other.node), property(other.property), value(std::move(other.value), heap),
          type(other.type) {}

    const Node* node;
    const char* property;  // a literal
    std::pmr::string value;
    VARTYPE type;
};

struct Tree {
    // Pages of this many bytes or more get a heap of their own.
    static constexpr size_t kOwnHeapBytes = 64 * 1024;
    explicit Tree(size_t pageBytes);
    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    DocumentHeap heap;  // first, so that it goes last

    std::string url;
    std::wstring urlWide;
    std::wstring baseUrl;  // the document's address or its first <base href>

    std::pmr::deque<Node> nodes;  // owner of every node; addresses stay put
    Node* root = nullptr;    // the document node
    Node* html = nullptr;
    Node* body = nullptr;    // BODY, or the top FRAMESET of a frameset page

    NodeList all;  // elements and comments in document order
    std::unordered_map<std::string, NodeList> byTag;
    std::vector<FrameDecl> frames;

    DomOptions options;
    std::pmr::vector<LoggedWrite> writes;
    std::pmr::vector<std::pmr::string> reads;  // when options.logReads

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
    const NodeList& ElementsOf(const std::string& tag) const;
};

// Counters shared by every document of the process.
void CountRef(Tree& tree, LONG delta);
void CountObject(Tree& tree, LONG delta);
LONG ProcessRefs();

}  // namespace standin::detail
