#include "html_parser.h"

#include <cstring>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "text.h"

namespace standin::detail {
namespace {

constexpr size_t kMaxDepth = 512;
constexpr size_t kMaxAttributes = 1000;

using TagSet = std::unordered_set<std::string>;

const TagSet& VoidTags() {
    static const TagSet set = {"area",  "base",    "basefont", "bgsound", "br",    "col",
                               "embed", "frame",   "hr",       "img",     "input", "keygen",
                               "link",  "meta",    "param",    "source",  "track", "wbr",
                               "isindex"};
    return set;
}

const TagSet& ClosesParagraph() {
    static const TagSet set = {
        "address", "article", "aside",   "blockquote", "center",  "details", "dialog", "dir",
        "div",     "dl",      "fieldset", "figcaption", "figure", "footer",  "form",   "h1",
        "h2",      "h3",      "h4",      "h5",         "h6",      "header",  "hgroup", "hr",
        "main",    "menu",    "nav",     "ol",         "p",       "pre",     "section", "summary",
        "ul",      "listing", "xmp",     "plaintext",  "li",      "dd",      "dt"};
    return set;
}

// Elements whose content is not markup.
const TagSet& RawTextTags() {
    static const TagSet set = {"script", "style", "xmp", "iframe", "noembed", "noframes"};
    return set;
}

const TagSet& HeadContent() {
    static const TagSet set = {"title",   "meta",     "link",     "style",  "script",
                               "base",    "basefont", "bgsound",  "noscript", "noframes",
                               "template"};
    return set;
}

// The kinds of boundary at which a search of the open elements stops.
enum Scope { kDefaultScope, kButtonScope, kListItemScope, kTableScope, kListStopScope, kMarkerScope,
             kScopeCount };

bool IsScopeBoundary(const std::string& tag, int scope) {
    if (tag == "html" || tag == "template") return true;
    if (scope == kTableScope) return tag == "table";
    static const TagSet base = {"applet", "caption", "table", "td", "th", "marquee", "object"};
    if (scope == kMarkerScope) return base.count(tag) != 0;
    if (scope == kListStopScope) {
        static const TagSet stops = {
            "ul",      "ol",     "menu",   "dir",    "table",  "td",       "th",     "caption",
            "object",  "applet", "marquee", "body",  "blockquote", "fieldset", "select", "button",
            "dl",      "center", "form",   "iframe", "section", "nav",     "article", "aside",
            "header",  "footer"};
        return stops.count(tag) != 0;
    }
    if (base.count(tag)) return true;
    if (scope == kButtonScope) return tag == "button";
    if (scope == kListItemScope) return tag == "ol" || tag == "ul";
    return false;
}

bool IsHeading(const std::string& tag) {
    return tag.size() == 2 && tag[0] == 'h' && tag[1] >= '1' && tag[1] <= '6';
}

bool IsOneOf(const std::string& tag, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (tag == name) return true;
    return false;
}

bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsBlank(std::wstring_view text) {
    for (wchar_t c : text)
        if (!IsAsciiSpace(c)) return false;
    return true;
}

bool StartsWithNoCase(const char* s, size_t n, size_t at, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (at + length > n) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = s[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

using Attributes = std::pmr::vector<Attribute>;

struct Tag {
    explicit Tag(std::pmr::memory_resource* heap) : attributes(heap) {}
    std::string name;
    Attributes attributes;  // in the document's heap, to be moved into its element
    bool selfClosing = false;
};

// The tree construction half: receives tokens, keeps the open elements.
// Where each tag name stands among the open elements, and where the
// nearest boundary of each scope stands, are kept up to date, so that every
// search an end tag or an implied end makes costs the same however deep the
// page nests.
class Builder {
public:
    Builder(Tree& tree, bool scripting) : tree_(tree), scripting_(scripting) {
        tree_.root = tree_.NewNode(NodeKind::Document);
        html_ = Create("html", {});
        Append(tree_.root, html_);
        tree_.html = html_;
        Push(html_);
    }

    bool scripting() const { return scripting_; }
    std::pmr::memory_resource* heap() const { return &tree_.heap; }

    // Returns the element the tag made and whether it is open for content.
    std::pair<Node*, bool> StartTag(Tag& tag);
    void EndTag(const std::string& name);
    void Text(std::pmr::wstring&& text);
    void RawText(Node* element, std::pmr::wstring&& text);
    void Comment(std::pmr::wstring&& text);
    // At the end of the page: a page without body or frameset gets an
    // empty body, as every document in the browser has one.
    void Finish() {
        if (mode_ == Mode::BeforeBody) EnsureBody();
    }

private:
    enum class Mode { BeforeBody, InBody, InFrameset, AfterFrameset };

    Node* Create(const std::string& tag, Attributes&& attributes) {
        Node* node = tree_.NewNode(NodeKind::Element);
        node->tag = tag;
        node->attributes = std::move(attributes);
        return node;
    }
    static void Append(Node* parent, Node* child) {
        child->parent = parent;
        parent->children.push_back(child);
    }
    Node* InsertionParent() const {
        return stack_.size() <= kMaxDepth ? stack_.back() : stack_[kMaxDepth - 1];
    }
    const std::string& Top() const { return stack_.back()->tag; }

    void Push(Node* node) {
        const size_t index = stack_.size();
        stack_.push_back(node);
        positions_[node->tag].push_back(index);
        for (int scope = 0; scope < kScopeCount; ++scope)
            if (IsScopeBoundary(node->tag, scope)) boundaries_[scope].push_back(index);
        if (node->tag == "svg" || node->tag == "math") ++foreignDepth_;
    }
    void Pop() {
        const size_t index = stack_.size() - 1;
        Node* node = stack_.back();
        positions_[node->tag].pop_back();
        for (int scope = 0; scope < kScopeCount; ++scope)
            if (!boundaries_[scope].empty() && boundaries_[scope].back() == index)
                boundaries_[scope].pop_back();
        if (node->tag == "svg" || node->tag == "math") --foreignDepth_;
        stack_.pop_back();
    }
    // Closes the open element at index and everything opened after it.
    void PopTo(size_t index) {
        if (index == 0) index = 1;  // the html element stays open
        while (stack_.size() > index) Pop();
    }
    // The nearest open element named tag, if no boundary of the scope
    // stands between it and the current node; 0 if there is none.
    size_t FindInScope(const std::string& tag, int scope) const {
        auto found = positions_.find(tag);
        if (found == positions_.end() || found->second.empty()) return 0;
        const size_t index = found->second.back();
        const size_t boundary = boundaries_[scope].empty() ? 0 : boundaries_[scope].back();
        return index >= boundary ? index : 0;
    }
    size_t FindAnyInScope(std::initializer_list<const char*> tags, int scope) const {
        size_t best = 0;
        for (const char* tag : tags) {
            const size_t index = FindInScope(tag, scope);
            if (index > best) best = index;
        }
        return best;
    }
    void ClosePopTo(const std::string& tag, int scope) {
        const size_t index = FindInScope(tag, scope);
        if (index) PopTo(index);
    }
    Node* Insert(const std::string& name, Attributes&& attributes, bool push) {
        Node* node = Create(name, std::move(attributes));
        Append(InsertionParent(), node);
        if (push) Push(node);
        return node;
    }
    static void Merge(Node* target, Attributes& attributes) {
        std::unordered_set<std::string> names;
        for (const Attribute& attribute : target->attributes) names.emplace(attribute.name);
        for (Attribute& attribute : attributes) {
            if (target->attributes.size() >= kMaxAttributes) return;
            if (names.emplace(attribute.name).second) target->attributes.push_back(std::move(attribute));
        }
    }
    void CloseHead() {
        if (head_) ClosePopTo("head", kDefaultScope);
    }
    // Whatever the head still holds open (an unclosed TITLE or TEMPLATE)
    // ends where the body or frameset begins.
    void LeaveHead() { PopTo(1); }
    void EnsureBody() {
        LeaveHead();
        body_ = Insert("body", {}, true);
        tree_.body = body_;
        mode_ = Mode::InBody;
    }
    void CloseCell() {
        const size_t index = FindAnyInScope({"td", "th"}, kTableScope);
        if (index) PopTo(index);
    }
    void PopWhileNot(std::initializer_list<const char*> names) {
        while (stack_.size() > 1 && !IsOneOf(Top(), names)) Pop();
    }
    std::pair<Node*, bool> StartInBody(Tag& tag);
    void ImplyTableParts(const std::string& name);

    Tree& tree_;
    bool scripting_;
    Mode mode_ = Mode::BeforeBody;
    std::vector<Node*> stack_;
    std::unordered_map<std::string, std::vector<size_t>> positions_;
    std::vector<size_t> boundaries_[kScopeCount];
    Node* html_ = nullptr;
    Node* head_ = nullptr;
    Node* body_ = nullptr;
    Node* form_ = nullptr;  // an open form: nested ones are dropped
    bool bodyHasContent_ = false;
    int foreignDepth_ = 0;
};

std::pair<Node*, bool> Builder::StartTag(Tag& tag) {
    if (tag.name == "image") tag.name = "img";
    const std::string& name = tag.name;

    if (mode_ == Mode::AfterFrameset) return {nullptr, false};
    if (mode_ == Mode::InFrameset) {
        if (name == "frameset") return {Insert(name, std::move(tag.attributes), true), true};
        if (name == "frame") return {Insert(name, std::move(tag.attributes), false), false};
        if (name == "html") Merge(html_, tag.attributes);
        return {nullptr, false};
    }
    if (name == "html") {
        Merge(html_, tag.attributes);
        return {nullptr, false};
    }

    if (mode_ == Mode::BeforeBody) {
        if (name == "head") {
            if (head_) {
                Merge(head_, tag.attributes);
                return {nullptr, false};
            }
            head_ = Insert(name, std::move(tag.attributes), true);
            return {head_, true};
        }
        if (HeadContent().count(name)) {
            if (!head_) {
                head_ = Create("head", {});
                Append(html_, head_);
            }
            // Into the head even after </head>, as browsers put it.
            Node* node = Create(name, std::move(tag.attributes));
            Append(head_, node);
            const bool open = !VoidTags().count(name);
            if (open) Push(node);
            return {node, open};
        }
        if (name == "body") {
            LeaveHead();
            body_ = Insert(name, std::move(tag.attributes), true);
            tree_.body = body_;
            mode_ = Mode::InBody;
            return {body_, true};
        }
        if (name == "frameset") {
            LeaveHead();
            Node* frameset = Insert(name, std::move(tag.attributes), true);
            tree_.body = frameset;
            mode_ = Mode::InFrameset;
            return {frameset, true};
        }
        if (name == "frame") return {nullptr, false};
        EnsureBody();
    }
    return StartInBody(tag);
}

std::pair<Node*, bool> Builder::StartInBody(Tag& tag) {
    const std::string& name = tag.name;
    if (name == "body") {
        Merge(body_, tag.attributes);
        return {nullptr, false};
    }
    if (name == "head" || name == "frame") return {nullptr, false};
    if (name == "frameset") {
        // Browsers let a frameset replace a body that holds nothing yet.
        if (bodyHasContent_) return {nullptr, false};
        auto& siblings = html_->children;
        for (size_t i = 0; i < siblings.size(); ++i)
            if (siblings[i] == body_) {
                siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        body_->parent = nullptr;
        PopTo(1);
        Node* frameset = Insert(name, std::move(tag.attributes), true);
        tree_.body = frameset;
        body_ = nullptr;
        mode_ = Mode::InFrameset;
        return {frameset, true};
    }
    if (!HeadContent().count(name)) bodyHasContent_ = true;

    if (name == "li") {
        const size_t index = FindInScope("li", kListStopScope);
        if (index) PopTo(index);
    }
    if (name == "dd" || name == "dt") {
        const size_t index = FindAnyInScope({"dd", "dt"}, kListStopScope);
        if (index) PopTo(index);
    }
    if (ClosesParagraph().count(name)) ClosePopTo("p", kButtonScope);
    if (IsHeading(name) && IsHeading(Top())) Pop();
    if (name == "option" && Top() == "option") Pop();
    if (name == "optgroup") {
        if (Top() == "option") Pop();
        if (Top() == "optgroup") Pop();
    }
    if (name == "button") ClosePopTo("button", kDefaultScope);
    if (name == "a") ClosePopTo("a", kMarkerScope);
    if (name == "form" && form_) return {nullptr, false};
    if (FindInScope("table", kTableScope)) ImplyTableParts(name);

    const bool isVoid = VoidTags().count(name) != 0;
    const bool selfClosedForeign =
        tag.selfClosing && (foreignDepth_ > 0 || name == "svg" || name == "math");
    const bool open = !isVoid && !selfClosedForeign;
    Node* node = Insert(name, std::move(tag.attributes), open);
    if (name == "form") form_ = node;
    return {node, open};
}

// Inside a table, rows and cells close the ones before them, and the
// TBODY and TR a browser implies are inserted.
void Builder::ImplyTableParts(const std::string& name) {
    if (name == "caption" || name == "colgroup" || name == "tbody" || name == "thead" ||
        name == "tfoot") {
        CloseCell();
        PopWhileNot({"table"});
        return;
    }
    if (name == "tr") {
        CloseCell();
        PopWhileNot({"tbody", "thead", "tfoot", "table"});
        if (Top() == "table") Insert("tbody", {}, true);
        return;
    }
    if (name == "td" || name == "th") {
        CloseCell();
        PopWhileNot({"tr", "tbody", "thead", "tfoot", "table"});
        if (Top() == "table") Insert("tbody", {}, true);
        if (Top() != "tr") Insert("tr", {}, true);
    }
}

void Builder::EndTag(const std::string& name) {
    if (mode_ == Mode::AfterFrameset) return;
    if (mode_ == Mode::InFrameset) {
        if (name != "frameset" || Top() != "frameset") return;
        Pop();
        if (Top() != "frameset") mode_ = Mode::AfterFrameset;
        return;
    }
    if (name == "br") {
        Tag br(heap());
        br.name = "br";
        StartTag(br);
        return;
    }
    if (mode_ == Mode::BeforeBody) {
        if (name == "head") {
            CloseHead();
            return;
        }
        ClosePopTo(name, kDefaultScope);
        return;
    }

    if (name == "body" || name == "html") return;  // later content still goes into the body
    if (name == "p") {
        const size_t index = FindInScope("p", kButtonScope);
        if (index) {
            PopTo(index);
        } else {
            Insert("p", {}, false);
        }
        return;
    }
    if (name == "form") {
        form_ = nullptr;
        ClosePopTo(name, kDefaultScope);
        return;
    }
    if (name == "li") {
        ClosePopTo(name, kListItemScope);
        return;
    }
    if (IsHeading(name)) {
        const size_t index = FindAnyInScope({"h1", "h2", "h3", "h4", "h5", "h6"}, kDefaultScope);
        if (index) PopTo(index);
        return;
    }
    if (IsOneOf(name, {"td", "th", "tr", "tbody", "thead", "tfoot", "table", "caption", "colgroup"})) {
        ClosePopTo(name, kTableScope);
        return;
    }
    ClosePopTo(name, kDefaultScope);
}

void Builder::Text(std::pmr::wstring&& text) {
    if (text.empty()) return;
    if (mode_ == Mode::InFrameset || mode_ == Mode::AfterFrameset) return;
    if (mode_ == Mode::BeforeBody) {
        if (IsBlank(text)) return;
        EnsureBody();
    }
    if (!bodyHasContent_ && !IsBlank(text)) bodyHasContent_ = true;
    Node* parent = InsertionParent();
    if (!parent->children.empty()) {
        Node* last = parent->children.back();
        if (last->kind == NodeKind::Text && !last->rawText) {
            last->text += text;
            return;
        }
    }
    Node* node = tree_.NewNode(NodeKind::Text);
    node->text = std::move(text);
    Append(parent, node);
}

void Builder::RawText(Node* element, std::pmr::wstring&& text) {
    if (!element || text.empty()) return;
    Node* node = tree_.NewNode(NodeKind::Text);
    node->rawText = element->tag != "title" && element->tag != "textarea";
    node->text = std::move(text);
    Append(element, node);
}

void Builder::Comment(std::pmr::wstring&& text) {
    if (mode_ == Mode::AfterFrameset) return;
    Node* node = tree_.NewNode(NodeKind::Comment);
    node->tag = "!";
    node->text = std::move(text);
    Append(InsertionParent(), node);
}

// The tokenizer half: reads the bytes and hands tokens to the builder.
class Tokenizer {
public:
    Tokenizer(const std::string& html, Builder& builder)
        : s_(html.data()), n_(html.size()), builder_(builder) {}

    void Run() {
        while (pos_ < n_) {
            if (s_[pos_] == '<') {
                Markup();
            } else {
                Text();
            }
        }
    }

private:
    void Text() {
        const void* lt = std::memchr(s_ + pos_, '<', n_ - pos_);
        const size_t end = lt ? static_cast<size_t>(static_cast<const char*>(lt) - s_) : n_;
        EmitText(pos_, end);
        pos_ = end;
    }

    void EmitText(size_t begin, size_t end) {
        if (end <= begin) return;
        std::pmr::wstring text(builder_.heap());
        AppendDecoded(text, s_ + begin, end - begin, false);
        builder_.Text(std::move(text));
    }

    void Markup() {
        const size_t at = pos_;
        if (at + 1 >= n_) {
            EmitText(at, n_);
            pos_ = n_;
            return;
        }
        const char next = s_[at + 1];
        if (next == '!') {
            Declaration();
            return;
        }
        if (next == '?') {
            BogusComment(at + 2);
            return;
        }
        if (next == '/') {
            EndTag();
            return;
        }
        if (IsAlpha(next)) {
            StartTag();
            return;
        }
        EmitText(at, at + 1);
        pos_ = at + 1;
    }

    void Declaration() {
        const size_t at = pos_;
        if (StartsWithNoCase(s_, n_, at, "<!--")) {
            Comment(at + 4);
            return;
        }
        if (StartsWithNoCase(s_, n_, at, "<!doctype")) {
            const void* gt = std::memchr(s_ + at, '>', n_ - at);
            pos_ = gt ? static_cast<size_t>(static_cast<const char*>(gt) - s_) + 1 : n_;
            return;
        }
        BogusComment(at + 2);
    }

    // From just after "<!--": ends at "-->" (or "--!>"); "<!-->" and
    // "<!--->" are empty comments; an unclosed comment runs to the end.
    void Comment(size_t start) {
        if (start < n_ && s_[start] == '>') {
            builder_.Comment(std::pmr::wstring(builder_.heap()));
            pos_ = start + 1;
            return;
        }
        if (start + 1 < n_ && s_[start] == '-' && s_[start + 1] == '>') {
            builder_.Comment(std::pmr::wstring(builder_.heap()));
            pos_ = start + 2;
            return;
        }
        size_t i = start;
        while (i < n_) {
            const void* dash = std::memchr(s_ + i, '-', n_ - i);
            if (!dash) break;
            i = static_cast<size_t>(static_cast<const char*>(dash) - s_);
            if (i + 2 < n_ && s_[i + 1] == '-' && s_[i + 2] == '>') {
                EmitComment(start, i);
                pos_ = i + 3;
                return;
            }
            if (i + 3 < n_ && s_[i + 1] == '-' && s_[i + 2] == '!' && s_[i + 3] == '>') {
                EmitComment(start, i);
                pos_ = i + 4;
                return;
            }
            ++i;
        }
        EmitComment(start, n_);
        pos_ = n_;
    }

    void BogusComment(size_t start) {
        const void* gt = start < n_ ? std::memchr(s_ + start, '>', n_ - start) : nullptr;
        const size_t end = gt ? static_cast<size_t>(static_cast<const char*>(gt) - s_) : n_;
        EmitComment(start < end ? start : end, end);
        pos_ = gt ? end + 1 : n_;
    }

    void EmitComment(size_t begin, size_t end) {
        std::pmr::wstring text(builder_.heap());
        if (end > begin) AppendAnsi(text, s_ + begin, end - begin);
        builder_.Comment(std::move(text));
    }

    void EndTag() {
        const size_t at = pos_;
        if (at + 2 >= n_) {
            EmitText(at, n_);
            pos_ = n_;
            return;
        }
        if (s_[at + 2] == '>') {
            pos_ = at + 3;  // "</>" is dropped
            return;
        }
        if (!IsAlpha(s_[at + 2])) {
            BogusComment(at + 2);
            return;
        }
        Tag tag(builder_.heap());
        size_t end = 0;
        if (!ReadTag(at + 2, tag, &end)) {
            pos_ = n_;  // cut off by the end of the page
            return;
        }
        pos_ = end;
        builder_.EndTag(tag.name);
    }

    void StartTag() {
        Tag tag(builder_.heap());
        size_t end = 0;
        if (!ReadTag(pos_ + 1, tag, &end)) {
            pos_ = n_;
            return;
        }
        pos_ = end;
        const std::string name = tag.name == "image" ? "img" : tag.name;
        auto [element, open] = builder_.StartTag(tag);
        // Text follows only where the element was opened; the one exception
        // is NOFRAMES, whose content is skipped as text even where the
        // element itself is dropped (in and after a frameset).
        if (!open && name != "noframes") return;
        if (name == "plaintext") {
            RawRest(element);
            return;
        }
        const bool raw = RawTextTags().count(name) || (name == "noscript" && builder_.scripting());
        const bool escapable = name == "title" || name == "textarea";
        if (raw || escapable) RawUntilEnd(name, element, escapable);
    }

    // Reads the name and attributes of a tag from `at` (the name's first
    // letter). False when the page ends inside the tag.
    bool ReadTag(size_t at, Tag& tag, size_t* end) {
        size_t p = at;
        while (p < n_ && !IsTagSpace(s_[p]) && s_[p] != '/' && s_[p] != '>') ++p;
        tag.name = LowerAscii(std::string(s_ + at, p - at));
        std::unordered_set<std::string> seen;
        for (;;) {
            while (p < n_ && (IsTagSpace(s_[p]) || s_[p] == '/')) {
                if (s_[p] == '/' && p + 1 < n_ && s_[p + 1] == '>') tag.selfClosing = true;
                ++p;
            }
            if (p >= n_) return false;
            if (s_[p] == '>') {
                *end = p + 1;
                return true;
            }
            tag.selfClosing = false;
            const size_t nameStart = p++;
            while (p < n_ && !IsTagSpace(s_[p]) && s_[p] != '/' && s_[p] != '>' && s_[p] != '=') ++p;
            Attribute attribute(builder_.heap());
            attribute.name = LowerAscii(std::string(s_ + nameStart, p - nameStart));
            while (p < n_ && IsTagSpace(s_[p])) ++p;
            if (p < n_ && s_[p] == '=') {
                ++p;
                while (p < n_ && IsTagSpace(s_[p])) ++p;
                if (p >= n_) return false;
                size_t valueStart = p;
                size_t valueEnd = p;
                if (s_[p] == '"' || s_[p] == '\'') {
                    const void* close = std::memchr(s_ + p + 1, s_[p], n_ - p - 1);
                    if (!close) return false;
                    valueStart = p + 1;
                    valueEnd = static_cast<size_t>(static_cast<const char*>(close) - s_);
                    p = valueEnd + 1;
                } else {
                    while (p < n_ && !IsTagSpace(s_[p]) && s_[p] != '>') ++p;
                    valueEnd = p;
                }
                AppendDecoded(attribute.value, s_ + valueStart, valueEnd - valueStart, true);
            } else {
                attribute.valueless = true;
            }
            if (tag.attributes.size() >= kMaxAttributes) continue;
            if (IsDuplicate(tag.attributes, seen, attribute.name)) continue;
            tag.attributes.push_back(std::move(attribute));
        }
    }

    // The first of duplicated attributes wins. Few attributes are compared
    // one by one; past that a set keeps a tag of many attributes linear.
    static bool IsDuplicate(const Attributes& attributes, std::unordered_set<std::string>& seen,
                            std::string_view name) {
        if (attributes.size() < 16) {
            for (const Attribute& attribute : attributes)
                if (attribute.name == name) return true;
            return false;
        }
        if (seen.empty())
            for (const Attribute& attribute : attributes) seen.emplace(attribute.name);
        return !seen.emplace(name).second;
    }

    // Raw text up to the element's end tag, which is then read as usual.
    void RawUntilEnd(const std::string& name, Node* element, bool decode) {
        const size_t start = pos_;
        size_t i = start;
        for (;;) {
            const void* lt = i < n_ ? std::memchr(s_ + i, '<', n_ - i) : nullptr;
            if (!lt) {
                i = n_;
                break;
            }
            i = static_cast<size_t>(static_cast<const char*>(lt) - s_);
            const size_t after = i + 2 + name.size();
            if (i + 1 < n_ && s_[i + 1] == '/' && StartsWithNoCase(s_, n_, i + 2, name.c_str()) &&
                (after >= n_ || IsTagSpace(s_[after]) || s_[after] == '/' || s_[after] == '>'))
                break;
            ++i;
        }
        std::pmr::wstring text(builder_.heap());
        if (decode) {
            AppendDecoded(text, s_ + start, i - start, false);
        } else {
            AppendAnsi(text, s_ + start, i - start);
        }
        builder_.RawText(element, std::move(text));
        pos_ = i;
    }

    void RawRest(Node* element) {
        std::pmr::wstring text(builder_.heap());
        AppendAnsi(text, s_ + pos_, n_ - pos_);
        builder_.RawText(element, std::move(text));
        pos_ = n_;
    }

    const char* s_;
    size_t n_;
    size_t pos_ = 0;
    Builder& builder_;
};

}  // namespace

bool IsVoidTag(const std::string& tag) { return VoidTags().count(tag) != 0; }

void ParseHtml(Tree& tree, const std::string& html, bool scripting) {
    Builder builder(tree, scripting);
    Tokenizer tokenizer(html, builder);
    tokenizer.Run();
    builder.Finish();
}

}  // namespace standin::detail
