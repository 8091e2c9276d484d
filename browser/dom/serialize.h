// Markup and text of an element as Internet Explorer gives them back
// (innerHTML, outerHTML, innerText).
//
// Markup follows the browser's own way of writing a tree back out: tag
// names in upper case ("<IMG src=...>", which is what the product searches
// for), attribute names in lower case in their source order, a value
// unquoted when it is letters, digits, '-', '_' and '.' only and quoted
// otherwise, end tags for every element that is not void, the elements the
// parser implied (TBODY, TR) written out, text with &, <, > and the
// no-break space escaped, script and style text as it was. A visibility
// written through the style object shows in the style attribute as
// "VISIBILITY: hidden".
#pragma once

#include <string>

#include "tree.h"

namespace standin::detail {

std::wstring InnerHtml(const Node& node);
std::wstring OuterHtml(const Node& node);
// The text the element shows: its text nodes without script and style.
std::wstring InnerText(const Node& node);

}  // namespace standin::detail
