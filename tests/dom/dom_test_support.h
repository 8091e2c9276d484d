// Helpers of the document stand-in's tests: they reach the documents the
// way the page scan does, through tags(), get_length, item() and
// QueryInterface.
#pragma once

#include <windows.h>
#include <mshtml.h>

#include <memory>
#include <string>

#include "base/com.h"
#include "dom.h"

namespace domtest {

using korvane::ComPtr;
using korvane::UniqueBstr;
using korvane::UniqueVariant;

constexpr const char* kPageUrl = "http://www.example.com/dir/page.html";

std::shared_ptr<standin::Document> Parse(const std::string& html, const std::string& url = kPageUrl,
                                         const standin::DomOptions& options = {});

// The narrow (ANSI code page) text of a BSTR; "(null)" for a null one.
std::string Text(BSTR text);

ComPtr<IHTMLElementCollection> All(standin::Document& document);
// all.tags(tag) queried for IHTMLElementCollection; *result gets tags()'s HRESULT.
ComPtr<IHTMLElementCollection> Tags(IHTMLElementCollection* all, const wchar_t* tag,
                                    HRESULT* result = nullptr);
// item(index, VT_EMPTY) as the scan calls it.
ComPtr<IDispatch> Item(IHTMLElementCollection* collection, long index, HRESULT* result = nullptr);
long Length(IHTMLElementCollection* collection);

// Element index of a tag, queried for Interface; null if any step fails.
template <typename Interface>
ComPtr<Interface> Element(standin::Document& document, const wchar_t* tag, long index) {
    ComPtr<IHTMLElementCollection> all = All(document);
    if (!all) return nullptr;
    ComPtr<IHTMLElementCollection> elements = Tags(all.Get(), tag);
    if (!elements) return nullptr;
    ComPtr<IDispatch> element = Item(elements.Get(), index);
    ComPtr<Interface> result;
    if (element) element.As(&result);
    return result;
}

// The markup inside the body (or the element), narrow.
std::string BodyHtml(standin::Document& document);
std::string InnerHtml(IHTMLElement* element);

// What a scan-like walk over a document saw: for each phase tag the
// elements that answered the phase interface; every getter the scan uses
// is called on them and every string freed.
struct WalkCounts {
    long body = 0, frameset = 0, img = 0, object = 0, embed = 0, div = 0, base = 0, a = 0,
         area = 0, form = 0;
};
WalkCounts ScanLikeWalk(standin::Document& document);

// The page corpus: absolute Windows path of a page, and whether the corpus
// is there at all.
bool CorpusAvailable();
std::string CorpusPath(const std::string& relative);
std::string ReadCorpusPage(const std::string& relative);

}  // namespace domtest
