#include "tree.h"

#include <cstring>
#include <new>

#include "text.h"
#include "url.h"

namespace standin::detail {
namespace {

LONG processRefs = 0;

const NodeList kNoElements;

}  // namespace

DocumentHeap::DocumentHeap(bool own) : heap_(own ? HeapCreate(0, 0, 0) : nullptr) {}

DocumentHeap::~DocumentHeap() {
    if (heap_) HeapDestroy(heap_);
}

void* DocumentHeap::do_allocate(size_t bytes, size_t alignment) {
    if (!heap_ || alignment > MEMORY_ALLOCATION_ALIGNMENT)
        return std::pmr::new_delete_resource()->allocate(bytes, alignment);
    void* block = HeapAlloc(heap_, 0, bytes ? bytes : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

void DocumentHeap::do_deallocate(void* block, size_t bytes, size_t alignment) {
    if (!heap_ || alignment > MEMORY_ALLOCATION_ALIGNMENT) {
        std::pmr::new_delete_resource()->deallocate(block, bytes, alignment);
        return;
    }
    if (!abandoned_) HeapFree(heap_, 0, block);
}

Tree::Tree(size_t pageBytes)
    : heap(pageBytes >= kOwnHeapBytes), nodes(&heap), all(&heap), writes(&heap), reads(&heap) {}

// The nodes, lists and logs need not give their blocks back one by one:
// the heap goes whole after them.
Tree::~Tree() { heap.Abandon(); }

const Attribute* Node::Find(const char* name) const {
    for (const Attribute& attribute : attributes)
        if (attribute.name == name) return &attribute;
    return nullptr;
}

Attribute* Node::Find(const char* name) {
    for (Attribute& attribute : attributes)
        if (attribute.name == name) return &attribute;
    return nullptr;
}

void Node::Set(const char* name, std::wstring_view value) {
    if (Attribute* attribute = Find(name)) {
        attribute->value = value;
        attribute->valueless = false;
        return;
    }
    Attribute& attribute = attributes.emplace_back();
    attribute.name = name;
    attribute.value = value;
}

Node* Tree::NewNode(NodeKind kind) {
    nodes.emplace_back();
    Node* node = &nodes.back();
    node->kind = kind;
    return node;
}

void Tree::Index() {
    all.clear();
    byTag.clear();
    frames.clear();

    // Document order without recursion: the tree may be deep.
    std::vector<std::pair<Node*, size_t>> path;
    if (root) path.emplace_back(root, 0);
    while (!path.empty()) {
        auto& [node, next] = path.back();
        if (next == node->children.size()) {
            path.pop_back();
            continue;
        }
        Node* child = node->children[next++];
        if (child->kind == NodeKind::Text) continue;
        NodeList& sameTag = byTag.try_emplace(child->tag, &heap).first->second;
        child->allIndex = static_cast<long>(all.size());
        child->tagIndex = static_cast<long>(sameTag.size());
        all.push_back(child);
        sameTag.push_back(child);
        if (!child->children.empty()) path.emplace_back(child, 0);
    }

    // The first <base href> sets the address everything resolves against,
    // wherever it stands, as browsers since Internet Explorer 7 do.
    baseUrl = urlWide;
    for (Node* base : ElementsOf("base")) {
        const Attribute* href = base->Find("href");
        if (!href) continue;
        baseUrl = ResolveUrl(urlWide, href->value);
        break;
    }

    for (Node* node : all) {
        const bool inlineFrame = node->tag == "iframe";
        if (!inlineFrame && node->tag != "frame") continue;
        FrameDecl frame;
        frame.inlineFrame = inlineFrame;
        if (const Attribute* name = node->Find("name")) frame.name = WideToAnsi(name->value);
        const Attribute* src = node->Find("src");
        // A frame without an address (or with an empty one) shows a blank page.
        std::wstring address;
        if (src && !CollapseSpace(src->value).empty()) address = ResolveUrl(baseUrl, src->value);
        frame.src = address.empty() ? "about:blank" : WideToAnsi(address);
        frames.push_back(std::move(frame));
    }
}

const NodeList& Tree::ElementsOf(const std::string& tag) const {
    auto found = byTag.find(tag);
    return found == byTag.end() ? kNoElements : found->second;
}

void CountRef(Tree& tree, LONG delta) {
    InterlockedExchangeAdd(&tree.liveRefs, delta);
    InterlockedExchangeAdd(&processRefs, delta);
}

void CountObject(Tree& tree, LONG delta) { InterlockedExchangeAdd(&tree.liveObjects, delta); }

LONG ProcessRefs() { return InterlockedExchangeAdd(&processRefs, 0); }

}  // namespace standin::detail
