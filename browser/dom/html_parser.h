// The tolerant HTML parser: any bytes become a document tree, the way a
// browser of the time would build it from real pages.
//
// What it does, in short (choices a browser's behaviour leaves open are
// marked as such):
// - Tags and attribute names are case-insensitive; attribute values may be
//   quoted with ' or ", unquoted (up to white space or '>', so
//   target=_blank" keeps its stray quote) or absent; the first of duplicated
//   attributes wins; character references are decoded in values and text.
// - HTML, HEAD and BODY are implied where missing; a second BODY or HTML
//   tag adds its attributes to the existing element. Content after </body>
//   stays in the body.
// - P, LI, DD, DT, OPTION, headings, table cells, rows and sections close
//   implicitly; a table row or cell directly in a TABLE gets an implied
//   TBODY (and TR), as browsers insert them. A TABLE does not close an open
//   P (old pages have no doctype and browsers parse them in quirks mode).
// - An A inside an open A closes the first; a FORM inside an open FORM is
//   dropped. A stray end tag is ignored; one that matches an element outside
//   the current table cell or object is ignored too. A stray </p> makes an
//   empty P, </br> a BR.
// - SCRIPT, STYLE, XMP, IFRAME, NOEMBED, NOFRAMES and (with scripting on)
//   NOSCRIPT hold raw text; TITLE and TEXTAREA hold text with references
//   decoded; PLAINTEXT takes the rest of the page. Tags inside them are no
//   elements.
// - A FRAMESET before any body content replaces the body; inside it only
//   FRAMESET, FRAME and NOFRAMES count; after it everything is ignored.
// - Comments (including unclosed ones, which run to the end), doctypes,
//   "<?...>" and "<!...>" declarations are read and kept out of the way;
//   comments become "!" nodes as in Internet Explorer's all collection.
// - Elements nest at most 512 deep; deeper ones are added to the element at
//   that depth (a limit in the spirit of what browsers do) so no input can
//   exhaust the stack of the code that walks the tree.
// - An element keeps at most 1000 attributes; a tag cut off by the end of
//   the page is dropped, as browsers drop it.
#pragma once

#include <string>

#include "tree.h"

namespace standin::detail {

// Elements that never have content or an end tag.
bool IsVoidTag(const std::string& tag);

// Builds tree's nodes from html; tree.root is set. Never fails.
void ParseHtml(Tree& tree, const std::string& html, bool scripting);

}  // namespace standin::detail
