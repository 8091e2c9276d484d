#include "browser/page_document.h"

#include <mshtml.h>

#include "browser/dom/dom.h"
#include "browser/text_conversion.h"

namespace standin {

using korvane::ComPtr;
using korvane::UniqueBstr;

namespace {

// The document stand-in keeps page text in the ANSI code page, as the page's
// bytes were; BSTRs and the stand-in's own strings are UTF-16.
std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], needed);
    return wide;
}

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string narrow(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], needed, nullptr,
                        nullptr);
    return narrow;
}

class DomPage final : public PageDocument {
public:
    explicit DomPage(std::shared_ptr<Document> document) : document_(std::move(document)) {}

    ComPtr<IDispatch> Html() override {
        Microsoft::WRL::ComPtr<IHTMLDocument2> html = document_->Html();
        return ComPtr<IDispatch>(html.Get());
    }

    std::vector<DeclaredFrame> Frames() override {
        std::vector<DeclaredFrame> frames;
        for (const FrameDecl& frame : document_->Frames())
            frames.push_back({FromAnsi(frame.name), FromAnsi(frame.src)});
        return frames;
    }

    Clickable FindClickable(const ElementSelector& element) override {
        std::string selector;
        switch (element.kind) {
        case ElementSelector::Kind::Id: selector = "#" + ToAnsi(Widen(element.value)); break;
        case ElementSelector::Kind::Index: selector = std::to_string(element.index); break;
        case ElementSelector::Kind::Text: selector = "text:" + ToAnsi(Widen(element.value)); break;
        }
        const ClickTarget target = document_->FindClickable(element.tag, selector);
        Clickable result;
        result.found = target.found;
        result.href = FromAnsi(target.href);
        result.target = FromAnsi(target.target);
        result.baseTarget = BaseTarget();
        return result;
    }

    std::wstring Title() override {
        ComPtr<IDispatch> html = Html();
        ComPtr<IHTMLDocument2> document;
        if (!html || FAILED(html.As(&document))) return std::wstring();
        UniqueBstr title;
        if (FAILED(document->get_title(title.put())) || !title) return std::wstring();
        return std::wstring(title.get(), title.Length());
    }

    std::shared_ptr<Document> Dom() override { return document_; }

private:
    // The first <base> that names a target, read through the document's
    // interfaces so that a target the page scan gave it counts.
    std::wstring BaseTarget() {
        ComPtr<IDispatch> html = Html();
        ComPtr<IHTMLDocument2> document;
        if (!html || FAILED(html.As(&document))) return std::wstring();
        ComPtr<IHTMLElementCollection> all;
        if (FAILED(document->get_all(all.GetAddressOf())) || !all) return std::wstring();
        VARIANT tag;
        tag.vt = VT_BSTR;
        tag.bstrVal = SysAllocString(L"base");
        ComPtr<IDispatch> found;
        const HRESULT hr = tag.bstrVal ? all->tags(tag, found.GetAddressOf()) : E_OUTOFMEMORY;
        VariantClear(&tag);
        ComPtr<IHTMLElementCollection> bases;
        if (FAILED(hr) || !found || FAILED(found.As(&bases))) return std::wstring();
        long count = 0;
        if (FAILED(bases->get_length(&count))) return std::wstring();
        for (long i = 0; i < count; ++i) {
            VARIANT index, none;
            index.vt = VT_I4;
            index.lVal = i;
            VariantInit(&none);
            ComPtr<IDispatch> item;
            ComPtr<IHTMLBaseElement> base;
            if (FAILED(bases->item(index, none, item.GetAddressOf())) || !item || FAILED(item.As(&base))) continue;
            UniqueBstr target;
            if (SUCCEEDED(base->get_target(target.put())) && target && target.Length())
                return std::wstring(target.get(), target.Length());
        }
        return std::wstring();
    }

    std::shared_ptr<Document> document_;
};

}  // namespace

std::shared_ptr<PageDocument> PageDocument::Parse(const std::string& html, const std::wstring& url) {
    return std::make_shared<DomPage>(Document::Parse(html, ToAnsi(url)));
}

}  // namespace standin
