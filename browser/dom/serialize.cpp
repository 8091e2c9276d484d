#include "serialize.h"

#include "html_parser.h"
#include "text.h"

namespace standin::detail {
namespace {

bool NeedsQuotes(std::wstring_view value) {
    if (value.empty()) return true;
    for (wchar_t c : value) {
        const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                           (c >= L'0' && c <= L'9') || c == L'-' || c == L'_' || c == L'.';
        if (!plain) return true;
    }
    return false;
}

void AppendEscapedText(std::wstring& out, std::wstring_view text) {
    for (wchar_t c : text) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case 0xA0: out += L"&nbsp;"; break;
            default: out.push_back(c);
        }
    }
}

void AppendAttribute(std::wstring& out, std::string_view name, std::wstring_view value,
                     bool valueless) {
    out.push_back(L' ');
    AppendAnsi(out, name.data(), name.size());
    if (valueless) return;
    out.push_back(L'=');
    if (!NeedsQuotes(value)) {
        out += value;
        return;
    }
    out.push_back(L'"');
    for (wchar_t c : value) {
        if (c == L'&') {
            out += L"&amp;";
        } else if (c == L'"') {
            out += L"&quot;";
        } else {
            out.push_back(c);
        }
    }
    out.push_back(L'"');
}

std::wstring StyleWithVisibility(std::wstring_view style, std::wstring_view visibility) {
    std::wstring out(style);
    while (!out.empty() && (IsAsciiSpace(out.back()) || out.back() == L';')) out.pop_back();
    if (!out.empty()) out += L"; ";
    out += L"VISIBILITY: ";
    out += visibility;
    return out;
}

void AppendNode(std::wstring& out, const Node& node);

void AppendChildren(std::wstring& out, const Node& node) {
    for (const Node* child : node.children) AppendNode(out, *child);
}

void AppendNode(std::wstring& out, const Node& node) {
    switch (node.kind) {
        case NodeKind::Text:
            if (node.rawText) {
                out += node.text;
            } else {
                AppendEscapedText(out, node.text);
            }
            return;
        case NodeKind::Comment:
            out += L"<!--";
            out += node.text;
            out += L"-->";
            return;
        case NodeKind::Document:
            AppendChildren(out, node);
            return;
        case NodeKind::Element:
            break;
    }
    const std::wstring tag = UpperAscii(AnsiToWide(node.tag));
    out.push_back(L'<');
    out += tag;
    bool styleWritten = false;
    for (const Attribute& attribute : node.attributes) {
        if (node.visibilityWritten && attribute.name == "style") {
            AppendAttribute(out, attribute.name, StyleWithVisibility(attribute.value, node.visibility),
                            false);
            styleWritten = true;
            continue;
        }
        AppendAttribute(out, attribute.name, attribute.value, attribute.valueless);
    }
    if (node.visibilityWritten && !styleWritten)
        AppendAttribute(out, "style", StyleWithVisibility(std::wstring_view(), node.visibility), false);
    out.push_back(L'>');
    if (IsVoidTag(node.tag)) return;
    AppendChildren(out, node);
    out += L"</";
    out += tag;
    out.push_back(L'>');
}

void AppendText(std::wstring& out, const Node& node) {
    if (node.kind == NodeKind::Text) {
        if (!node.rawText) out += node.text;
        return;
    }
    for (const Node* child : node.children) AppendText(out, *child);
}

}  // namespace

std::wstring InnerHtml(const Node& node) {
    std::wstring out;
    if (node.kind == NodeKind::Element && !IsVoidTag(node.tag)) AppendChildren(out, node);
    return out;
}

std::wstring OuterHtml(const Node& node) {
    std::wstring out;
    AppendNode(out, node);
    return out;
}

std::wstring InnerText(const Node& node) {
    std::wstring out;
    AppendText(out, node);
    return out;
}

}  // namespace standin::detail
