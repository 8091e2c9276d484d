// The COM objects of the document stand-in: the document, its element
// collections, its elements and their style objects.
//
// Each object holds its document's tree, so the tree lives as long as any
// of its objects is referenced. An element or the document keeps one COM
// object while referenced, so QueryInterface and repeated item() calls see
// the same identity, as with MSHTML; collections and style objects are made
// afresh for every call. Objects start with no reference and die with the
// last Release. Every method catches everything: memory exhaustion answers
// E_OUTOFMEMORY, anything else E_FAIL.
//
// What the getters answer follows Wine's MSHTML: a missing or empty
// target, name, id, class, title, alt or innerHTML is a NULL BSTR; href and
// src are absolute addresses, or an empty BSTR when the element has none;
// an OBJECT's or EMBED's width and height are VT_BSTR of the attribute as
// written, an empty string when it is missing; an IMG's width and height are
// its attributes, else its rendered size (DomOptions), else the default;
// item() with an index past the end answers S_OK and NULL, a negative one
// E_INVALIDARG; tags() of a tag nobody uses answers an empty collection and
// of anything but a VT_BSTR DISP_E_MEMBERNOTFOUND. put_onunload stores the
// VARIANT (a VT_BSTR, even a NULL one, replaces the page's handler), and
// get_onunload answers the stored value, or the page's handler text as
// VT_BSTR, or VT_NULL.
#pragma once

#include <memory>

#include "tree.h"

namespace standin::detail {

// The document object of tree (a new reference to its interface iid).
HRESULT GetDocumentObject(const std::shared_ptr<Tree>& tree, REFIID iid, void** out);

}  // namespace standin::detail
