#include "browser/page_document.h"

#include <algorithm>
#include <cctype>

#include "browser/text.h"

#if defined(KORVANE_STANDIN_HAVE_DOM)
#include "browser/dom/dom.h"
#endif

namespace standin {

namespace {

struct ScannedElement {
    std::string tag;  // lower case
    std::vector<std::pair<std::string, std::string>> attributes;  // names lower case
    std::string text;  // text content up to the closing tag (a only)

    const std::string* Attribute(const char* name) const {
        for (const auto& attribute : attributes)
            if (attribute.first == name) return &attribute.second;
        return nullptr;
    }
    std::string Get(const char* name) const {
        const std::string* value = Attribute(name);
        return value ? *value : std::string();
    }
};

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':';
}

std::string CollapseSpace(const std::string& text) {
    std::string result;
    bool space = false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= ' ') {
            space = !result.empty();
            continue;
        }
        if (space) result += ' ';
        space = false;
        result += c;
    }
    return result;
}

std::string DecodeEntities(const std::string& text) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&nbsp;", ' '}};
    std::string result;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& entity : kEntities) {
                const size_t length = std::char_traits<char>::length(entity.first);
                if (text.compare(i, length, entity.first) == 0) {
                    result += entity.second;
                    i += length;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) result += text[i++];
    }
    return result;
}

// A forgiving pass over markup: tags with their attributes, comments and
// script or style content skipped. Enough to find frames and links.
std::vector<ScannedElement> ScanMarkup(const std::string& html) {
    std::vector<ScannedElement> elements;
    size_t openAnchor = std::string::npos;  // index of the <a> whose text is being collected
    size_t textStart = 0;
    size_t i = 0;
    const size_t n = html.size();
    auto closeAnchor = [&](size_t end) {
        if (openAnchor == std::string::npos) return;
        std::string raw = html.substr(textStart, end - textStart);
        std::string text;
        bool inTag = false;
        for (char c : raw) {
            if (c == '<') inTag = true;
            else if (c == '>') inTag = false;
            else if (!inTag) text += c;
        }
        elements[openAnchor].text = CollapseSpace(DecodeEntities(text));
        openAnchor = std::string::npos;
    };
    while (i < n) {
        const size_t lt = html.find('<', i);
        if (lt == std::string::npos) break;
        if (html.compare(lt, 4, "<!--") == 0) {
            const size_t end = html.find("-->", lt + 4);
            i = end == std::string::npos ? n : end + 3;
            continue;
        }
        size_t p = lt + 1;
        const bool closing = p < n && html[p] == '/';
        if (closing) ++p;
        size_t nameStart = p;
        while (p < n && IsNameChar(html[p])) ++p;
        if (p == nameStart) {
            i = lt + 1;
            continue;
        }
        const std::string tag = AsciiLower(html.substr(nameStart, p - nameStart));
        ScannedElement element;
        element.tag = tag;
        // Attributes up to the closing '>', quotes respected.
        while (p < n && html[p] != '>') {
            if (static_cast<unsigned char>(html[p]) <= ' ' || html[p] == '/') {
                ++p;
                continue;
            }
            const size_t attrStart = p;
            while (p < n && html[p] != '=' && html[p] != '>' && static_cast<unsigned char>(html[p]) > ' ')
                ++p;
            std::string name = AsciiLower(html.substr(attrStart, p - attrStart));
            while (p < n && static_cast<unsigned char>(html[p]) <= ' ') ++p;
            std::string value;
            if (p < n && html[p] == '=') {
                ++p;
                while (p < n && static_cast<unsigned char>(html[p]) <= ' ') ++p;
                if (p < n && (html[p] == '"' || html[p] == '\'')) {
                    const char quote = html[p++];
                    const size_t end = html.find(quote, p);
                    value = html.substr(p, (end == std::string::npos ? n : end) - p);
                    p = end == std::string::npos ? n : end + 1;
                } else {
                    const size_t valueStart = p;
                    while (p < n && html[p] != '>' && static_cast<unsigned char>(html[p]) > ' ') ++p;
                    value = html.substr(valueStart, p - valueStart);
                }
            }
            if (!name.empty()) element.attributes.emplace_back(name, DecodeEntities(value));
        }
        i = p < n ? p + 1 : n;
        if (closing) {
            if (tag == "a") closeAnchor(lt);
            continue;
        }
        if (tag == "script" || tag == "style") {
            const std::string end = "</" + tag;
            size_t close = i;
            for (;;) {
                close = html.find("</", close);
                if (close == std::string::npos || EqualsNoCase(html.substr(close, end.size()), end)) break;
                close += 2;
            }
            i = close == std::string::npos ? n : close;
            continue;
        }
        if (tag == "a") {
            closeAnchor(lt);
            openAnchor = elements.size();
            textStart = i;
        }
        elements.push_back(element);
    }
    closeAnchor(n);
    return elements;
}

class ScannedDocument final : public PageDocument {
public:
    explicit ScannedDocument(const std::string& html) : elements_(ScanMarkup(html)) {}

    korvane::ComPtr<IDispatch> Html() override { return nullptr; }

    std::vector<DeclaredFrame> Frames() override {
        std::vector<DeclaredFrame> frames;
        for (const ScannedElement& element : elements_) {
            if (element.tag != "frame" && element.tag != "iframe") continue;
            frames.push_back({Widen(element.Get("name")), Widen(element.Get("src"))});
        }
        return frames;
    }

    Clickable FindClickable(const ElementSelector& selector) override {
        Clickable result;
        for (const ScannedElement& element : elements_)
            if (element.tag == "base" && element.Attribute("target"))
                result.baseTarget = Widen(element.Get("target"));
        int index = 0;
        for (const ScannedElement& element : elements_) {
            if (element.tag != selector.tag) continue;
            bool match = false;
            switch (selector.kind) {
            case ElementSelector::Kind::Id: match = element.Get("id") == selector.value; break;
            case ElementSelector::Kind::Index: match = index == selector.index; break;
            case ElementSelector::Kind::Text: match = element.text == selector.value; break;
            }
            ++index;
            if (!match) continue;
            result.found = true;
            result.href = Widen(element.Get(element.tag == "form" ? "action" : "href"));
            result.target = Widen(element.Get("target"));
            return result;
        }
        return result;
    }

    std::wstring Title() override { return std::wstring(); }

private:
    std::vector<ScannedElement> elements_;
};

}  // namespace

std::shared_ptr<PageDocument> ParseWithScanner(const std::string& html) {
    return std::make_shared<ScannedDocument>(html);
}

#if !defined(KORVANE_STANDIN_HAVE_DOM)
std::shared_ptr<PageDocument> PageDocument::Parse(const std::string& html, const std::wstring&) {
    return ParseWithScanner(html);
}
#endif

}  // namespace standin
