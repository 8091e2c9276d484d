#include <cstdlib>

#include "bstr_tracker.h"
#include "dom.h"
#include "html_parser.h"
#include "objects.h"
#include "serialize.h"
#include "text.h"
#include "tree.h"
#include "url.h"

namespace standin {
namespace {

bool IsIndex(const std::string& text) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

const detail::Node* Choose(const detail::NodeList& elements, const std::string& selector) {
    if (IsIndex(selector)) {
        const size_t index = static_cast<size_t>(std::atol(selector.c_str()));
        return index < elements.size() ? elements[index] : nullptr;
    }
    if (!selector.empty() && selector[0] == '#') {
        const std::wstring key = detail::AnsiToWide(selector.substr(1));
        for (const char* attribute : {"id", "name"})
            for (const detail::Node* node : elements)
                if (const detail::Attribute* value = node->Find(attribute))
                    if (std::wstring_view(value->value) == key) return node;
        return nullptr;
    }
    const std::string prefix = "text:";
    if (selector.compare(0, prefix.size(), prefix) != 0) return nullptr;
    const std::wstring wanted = detail::CollapseSpace(detail::AnsiToWide(selector.substr(prefix.size())));
    const detail::Node* containing = nullptr;
    for (const detail::Node* node : elements) {
        const std::wstring text = detail::CollapseSpace(detail::InnerText(*node));
        if (text == wanted) return node;
        if (!containing && text.find(wanted) != std::wstring::npos) containing = node;
    }
    return containing;
}

}  // namespace

std::string PropertyWrite::Text() const {
    return tag + "#" + std::to_string(index) + " " + property + " = " + value;
}

Document::Document(std::shared_ptr<detail::Tree> tree) : tree_(std::move(tree)) {}

std::shared_ptr<Document> Document::Parse(const std::string& html, const std::string& url,
                                          const DomOptions& options) {
    auto tree = std::make_shared<detail::Tree>(html.size());
    tree->url = url;
    tree->urlWide = detail::AnsiToWide(url);
    tree->options = options;
    detail::ParseHtml(*tree, html, options.scripting);
    tree->Index();
    return std::make_shared<Document>(std::move(tree));
}

Microsoft::WRL::ComPtr<IHTMLDocument2> Document::Html() {
    Microsoft::WRL::ComPtr<IHTMLDocument2> document;
    detail::GetDocumentObject(tree_, IID_IHTMLDocument2,
                              reinterpret_cast<void**>(document.ReleaseAndGetAddressOf()));
    return document;
}

const std::string& Document::Url() const { return tree_->url; }

const std::vector<FrameDecl>& Document::Frames() const { return tree_->frames; }

ClickTarget Document::FindClickable(const std::string& tag, const std::string& selector) const {
    korvane::ScopedLock hold(tree_->lock);
    ClickTarget result;
    const std::string name = detail::LowerAscii(tag);
    const detail::Node* node = Choose(tree_->ElementsOf(name), selector);
    if (!node) return result;
    result.found = true;
    const char* addressName = name == "form" ? "action" : "href";
    const detail::Attribute* address = node->Find(addressName);
    if (address && !detail::CollapseSpace(address->value).empty()) {
        result.href = detail::WideToAnsi(detail::ResolveUrl(tree_->baseUrl, address->value));
    } else if (name == "form") {
        result.href = tree_->url;  // a form without an action submits to its own page
    }
    if (const detail::Attribute* target = node->Find("target"))
        result.target = detail::WideToAnsi(target->value);
    return result;
}

void Document::AppendElement(const std::string& tag,
                             const std::vector<std::pair<std::string, std::string>>& attributes,
                             const std::string& text) {
    detail::Tree& tree = *tree_;
    korvane::ScopedLock hold(tree.lock);
    detail::Node* parent = tree.body ? tree.body : tree.root;
    if (!parent) return;
    detail::Node* element = tree.NewNode(detail::NodeKind::Element);
    element->tag = detail::LowerAscii(tag);
    for (const auto& attribute : attributes)
        element->Set(attribute.first.c_str(), detail::AnsiToWide(attribute.second));
    if (!text.empty()) {
        detail::Node* content = tree.NewNode(detail::NodeKind::Text);
        content->text = detail::AnsiToWide(text);
        content->parent = element;
        element->children.push_back(content);
    }
    element->parent = parent;
    parent->children.push_back(element);
    // Lists are appended to, never replaced: a collection handed out holds
    // on to its list.
    detail::NodeList& sameTag = tree.byTag.try_emplace(element->tag, &tree.heap).first->second;
    element->allIndex = static_cast<long>(tree.all.size());
    element->tagIndex = static_cast<long>(sameTag.size());
    tree.all.push_back(element);
    sameTag.push_back(element);
}

std::vector<PropertyWrite> Document::Writes() const {
    korvane::ScopedLock hold(tree_->lock);
    std::vector<PropertyWrite> writes;
    writes.reserve(tree_->writes.size());
    for (const detail::LoggedWrite& logged : tree_->writes) {
        PropertyWrite& write = writes.emplace_back();
        write.tag = logged.node->tag;
        write.index = logged.node->tagIndex;
        if (const detail::Attribute* id = logged.node->Find("id")) write.id = detail::WideToAnsi(id->value);
        write.property = logged.property;
        write.value = logged.value;
        write.type = logged.type;
    }
    return writes;
}

std::vector<std::string> Document::WriteLog() const {
    std::vector<std::string> lines;
    for (const PropertyWrite& write : Writes()) lines.push_back(write.Text());
    return lines;
}

std::vector<std::string> Document::ReadLog() const {
    korvane::ScopedLock hold(tree_->lock);
    return std::vector<std::string>(tree_->reads.begin(), tree_->reads.end());
}

void Document::ClearWrites() {
    korvane::ScopedLock hold(tree_->lock);
    tree_->writes.clear();
}

long Document::LiveRefs() const { return InterlockedExchangeAdd(&tree_->liveRefs, 0); }

long Document::LiveObjects() const { return InterlockedExchangeAdd(&tree_->liveObjects, 0); }

Failures& Document::InjectedFailures() { return tree_->options.failures; }

void Document::SetImageSizes(const std::vector<ImageSize>& sizes, long defaultWidth,
                             long defaultHeight) {
    korvane::ScopedLock hold(tree_->lock);
    tree_->options.imageSizes = sizes;
    tree_->options.defaultImageWidth = defaultWidth;
    tree_->options.defaultImageHeight = defaultHeight;
}

long Document::CountOf(const std::string& tag) const {
    return static_cast<long>(tree_->ElementsOf(detail::LowerAscii(tag)).size());
}

long LiveDomRefs() { return detail::ProcessRefs(); }

long LiveBstrs() { return detail::LiveBstrCount(); }

bool BstrTrackingActive() { return detail::BstrTrackerActive(); }

void DisableBstrTracking() { detail::DisableBstrTracker(); }

}  // namespace standin
