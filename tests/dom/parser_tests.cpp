// How the tolerant parser builds documents from the markup real pages use,
// seen through the markup the body gives back and the element counts.
#include <gtest/gtest.h>

#include <cstring>

#include "dom_test_support.h"
#include "text.h"
#include "url.h"

using namespace domtest;

namespace {

std::string Body(const std::string& html) { return BodyHtml(*Parse(html)); }

std::string AttributeOf(standin::Document& document, const wchar_t* tag, long index, const wchar_t* name) {
    ComPtr<IHTMLElement> element = Element<IHTMLElement>(document, tag, index);
    if (!element) return "(no element)";
    UniqueBstr key(SysAllocString(name));
    UniqueVariant value;
    if (FAILED(element->getAttribute(key.get(), 0, value.put()))) return "(failed)";
    if (V_VT(&value.get()) != VT_BSTR) return "(none)";
    return Text(V_BSTR(&value.get()));
}

}  // namespace

TEST(Parser, AttributesInEveryFormPagesWriteThem) {
    auto document = Parse(
        "<A HREF='single.html' Target=\"_top\" data-x=a>1</A>"
        "<a href=unquoted.html target=_blank\">2</a>"
        "<a href=\"first.html\" href=\"second.html\" nowrap>3</a>"
        "<a href=\"q?a=1&amp;b=2&copy=3&lt;&#65;&#x42;&quot;\">4</a>"
        "<a href=\"two\nlines\r\n.html\"target=x>5</a>"
        "<a =odd href = spaced.html >6</a>");
    EXPECT_EQ("single.html", AttributeOf(*document, L"a", 0, L"href"));
    EXPECT_EQ("_top", AttributeOf(*document, L"a", 0, L"TARGET"));
    EXPECT_EQ("_blank\"", AttributeOf(*document, L"a", 1, L"target"));
    EXPECT_EQ("first.html", AttributeOf(*document, L"a", 2, L"href"));
    EXPECT_EQ("", AttributeOf(*document, L"a", 2, L"nowrap"));
    EXPECT_EQ("q?a=1&b=2&copy=3<AB\"", AttributeOf(*document, L"a", 3, L"href"));
    EXPECT_EQ("x", AttributeOf(*document, L"a", 4, L"target"));
    EXPECT_EQ("spaced.html", AttributeOf(*document, L"a", 5, L"href"));
    // Line breaks inside an address are dropped when it is resolved.
    EXPECT_EQ("http://www.example.com/dir/twolines.html", document->FindClickable("a", "4").href);
}

TEST(Parser, ImpliedEndTagsAndElements) {
    EXPECT_EQ("<P>one</P><P>two</P>", Body("<p>one<p>two"));
    EXPECT_EQ("<UL><LI>a</LI><LI>b</LI></UL><P>after</P>", Body("<ul><li>a<li>b</ul><p>after"));
    EXPECT_EQ("<DL><DT>t</DT><DD>d</DD><DT>u</DT></DL>", Body("<dl><dt>t<dd>d<dt>u</dl>"));
    EXPECT_EQ("<SELECT><OPTION>a</OPTION><OPTION>b</OPTION></SELECT>",
              Body("<select><option>a<option>b</select>"));
    EXPECT_EQ("<TABLE><TBODY><TR><TD>a</TD><TD>b</TD></TR><TR><TD>c</TD></TR></TBODY></TABLE>",
              Body("<table><tr><td>a<td>b<tr><td>c</table>"));
    EXPECT_EQ("<TABLE><TBODY><TR><TD>x</TD></TR></TBODY></TABLE>", Body("<table><td>x</table>"));
    // Old pages have no doctype: a table stays inside an open paragraph.
    EXPECT_EQ("<P>p<TABLE></TABLE></P>", Body("<p>p<table></table>"));
    EXPECT_EQ("<H1>a</H1><H2>b</H2>", Body("<h1>a<h2>b</h2>"));
    EXPECT_EQ("<A href=a>1</A><A href=b>2</A>", Body("<a href=a>1<a href=b>2</a>"));
    // A form inside an open form is dropped; its fields stay.
    auto forms = Parse("<form action=a><form action=b><input name=q></form><form action=c></form>");
    EXPECT_EQ(2, forms->CountOf("form"));
    EXPECT_EQ(1, forms->CountOf("input"));
}

TEST(Parser, StrayAndMisnestedEndTags) {
    EXPECT_EQ("<DIV>a</DIV>b", Body("</span></div><div>a</b></div>b</td></tr>"));
    EXPECT_EQ("<DIV><P></P></DIV>", Body("<div></p></div>"));
    EXPECT_EQ("<BR>", Body("</br>"));
    // An end tag does not reach out of a table cell.
    EXPECT_EQ("<DIV><TABLE><TBODY><TR><TD>in</TD></TR></TBODY></TABLE>out</DIV>",
              Body("<div><table><tr><td>in</div></td></tr></table>out</div>"));
    EXPECT_EQ("<B><I>x</I></B>y", Body("<b><i>x</b>y"));
}

TEST(Parser, CommentsDoctypesAndDeclarationsAreNoElements) {
    auto document = Parse(
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\">"
        "<!-- <a href=hidden.html> --><!--><!--->"
        "<?xml version=\"1.0\"?><!ELEMENT x><a href=shown.html>x</a>"
        "<!-- never closed <a href=lost.html>");
    EXPECT_EQ(1, document->CountOf("a"));
    EXPECT_EQ("http://www.example.com/dir/shown.html", document->FindClickable("a", "0").href);
    // Comments are in the all collection as "!" elements, as in Internet Explorer.
    EXPECT_EQ(6, document->CountOf("!"));
}

TEST(Parser, ScriptAndStyleHoldRawText) {
    auto document = Parse(
        "<body><script>document.write('<a href=\"x\" target=\"_blank\">'); if (a<b) {}</script>"
        "<SCRIPT language=JavaScript><!-- document.write(\"<img src=ad.gif>\") // --></SCRIPT >"
        "<style>a > b { color: red } </style><a href=real.html>real</a>"
        "<textarea><a href=no>&amp;</textarea><title>x</title>");
    EXPECT_EQ(1, document->CountOf("a"));
    EXPECT_EQ(0, document->CountOf("img"));
    EXPECT_EQ(2, document->CountOf("script"));
    const std::string body = BodyHtml(*document);
    EXPECT_NE(std::string::npos, body.find("<SCRIPT>document.write('<a href=\"x\" target=\"_blank\">'); if (a<b) {}</SCRIPT>"))
        << body;
    EXPECT_NE(std::string::npos, body.find("<TEXTAREA>&lt;a href=no&gt;&amp;</TEXTAREA>")) << body;
    // An unclosed script swallows the rest of the page.
    auto open = Parse("<script>var s = '<a href=x>'; <a href=y>");
    EXPECT_EQ(0, open->CountOf("a"));
}

TEST(Parser, ImpliedStructureAndRepeatedBody) {
    auto document = Parse("text first<body onunload=\"bye()\" bgcolor=white><p>x<body onload=hi>");
    EXPECT_EQ(1, document->CountOf("html"));
    EXPECT_EQ(1, document->CountOf("body"));
    EXPECT_EQ("bye()", AttributeOf(*document, L"body", 0, L"onunload"));
    EXPECT_EQ("hi", AttributeOf(*document, L"body", 0, L"onload"));
    EXPECT_EQ("text first<P>x</P>", BodyHtml(*document));
    // Something the head left open ends where the body begins.
    auto head = Parse("<head><template><meta name=x></head><p>in body");
    EXPECT_EQ("<P>in body</P>", BodyHtml(*head));
    // Content after </body> and </html> stays in the body.
    EXPECT_EQ("<P>a</P>b<IMG src=c>", Body("<p>a</p></body></html>b<img src=c>"));
}

TEST(Parser, FramesetsReplaceAnEmptyBodyOnly) {
    auto frames = Parse("<body>\n<frameset><frame src=a.html></frameset><p>ignored");
    EXPECT_EQ(0, frames->CountOf("body"));
    EXPECT_EQ(1, frames->CountOf("frameset"));
    EXPECT_EQ(0, frames->CountOf("p"));
    ASSERT_EQ(1u, frames->Frames().size());

    // Inside a frameset only frames count: a script there is no text block
    // that could hide the next frame, NOFRAMES content is skipped.
    auto mixed = Parse("<frameset><script><frame src=b.html></script><noframes><frame src=c.html>"
                       "</noframes><plaintext><frame src=d.html></frameset>");
    ASSERT_EQ(2u, mixed->Frames().size());
    EXPECT_EQ("http://www.example.com/dir/b.html", mixed->Frames()[0].src);
    EXPECT_EQ("http://www.example.com/dir/d.html", mixed->Frames()[1].src);

    auto body = Parse("<p>content</p><frameset><frame src=a.html></frameset>");
    EXPECT_EQ(1, body->CountOf("body"));
    EXPECT_EQ(0, body->CountOf("frameset"));
    EXPECT_TRUE(body->Frames().empty());
}

TEST(Parser, InnerMarkupIsWrittenAsInternetExplorerWritesIt) {
    auto document = Parse(
        "<div id=ad><a href=\"http://ads.example/c?id=1&x=2\"><img SRC=b.gif width=\"468\" HEIGHT=60 "
        "alt='An \"ad\"' ismap></a>&nbsp;&lt;tag&gt;<embed src=m.swf><object data=x></object></div>");
    ComPtr<IHTMLElement> div = Element<IHTMLElement>(*document, L"div", 0);
    EXPECT_EQ("<A href=\"http://ads.example/c?id=1&amp;x=2\"><IMG src=b.gif width=468 height=60 "
              "alt=\"An &quot;ad&quot;\" ismap></A>&nbsp;&lt;tag&gt;<EMBED src=m.swf><OBJECT data=x></OBJECT>",
              InnerHtml(div.Get()));
    UniqueBstr outer;
    ASSERT_EQ(S_OK, div->get_outerHTML(outer.put()));
    EXPECT_EQ(0u, Text(outer.get()).find("<DIV id=ad><A "));
    // Nested containers each give their own markup.
    auto nested = Parse("<div><div><img src=a></div><img src=b></div>");
    EXPECT_EQ("<DIV><IMG src=a></DIV><IMG src=b>", InnerHtml(Element<IHTMLElement>(*nested, L"div", 0).Get()));
    EXPECT_EQ("<IMG src=a>", InnerHtml(Element<IHTMLElement>(*nested, L"div", 1).Get()));
    EXPECT_EQ("(null)", [&] {
        UniqueBstr empty;
        Element<IHTMLElement>(*Parse("<div></div>"), L"div", 0)->get_innerHTML(empty.put());
        return Text(empty.get());
    }());
}

TEST(Parser, PageBytesAreReadInTheAnsiCodePage) {
    CPINFO info = {};
    GetCPInfo(CP_ACP, &info);
    if (info.MaxCharSize != 1) GTEST_SKIP() << "a double-byte ANSI code page";
    std::string bytes;
    for (int c = 0xA0; c <= 0xFF; ++c) bytes.push_back(static_cast<char>(c));
    auto document = Parse("<a title=\"" + bytes + "\" href=\"caf\xE9.html\">x</a>");
    EXPECT_EQ(bytes, AttributeOf(*document, L"a", 0, L"title"));
    EXPECT_EQ("http://www.example.com/dir/caf\xE9.html", document->FindClickable("a", "0").href);
}

TEST(Parser, NulBytesAndLineEndsDoNotCutAnything) {
    const char raw[] = "<a href=x target=\"_bl\0ank\">a\0b</a>\r<p>\r\nline\rend";
    const std::string html(raw, sizeof raw - 1);
    auto document = Parse(html);
    ASSERT_EQ(1, document->CountOf("a"));
    ComPtr<IHTMLAnchorElement> anchor = Element<IHTMLAnchorElement>(*document, L"a", 0);
    UniqueBstr target;
    ASSERT_EQ(S_OK, anchor->get_target(target.put()));
    EXPECT_EQ(std::wstring(L"_bl\xFFFD" L"ank"), std::wstring(target.get(), target.Length()));
    ComPtr<IHTMLElement> element;
    anchor.As(&element);
    UniqueBstr text;
    ASSERT_EQ(S_OK, element->get_innerText(text.put()));
    EXPECT_EQ(3u, text.Length());
    EXPECT_EQ(1, document->CountOf("p"));
}

TEST(Parser, DeepNestingAndManyAttributesStayBounded) {
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "<div><span>";
    deep += "<img src=deep.gif>";
    auto document = Parse(deep);
    EXPECT_EQ(20000, document->CountOf("div"));
    EXPECT_EQ(1, document->CountOf("img"));
    ComPtr<IHTMLElement> outer = Element<IHTMLElement>(*document, L"div", 0);
    EXPECT_NE(std::string::npos, InnerHtml(outer.Get()).find("<IMG src=deep.gif>"));

    std::string wide = "<img";
    for (int i = 0; i < 5000; ++i) wide += " a" + std::to_string(i) + "=" + std::to_string(i);
    wide += " a7=dup>";
    auto attributes = Parse(wide);
    EXPECT_EQ("7", AttributeOf(*attributes, L"img", 0, L"a7"));
    EXPECT_EQ("999", AttributeOf(*attributes, L"img", 0, L"a999"));
    EXPECT_EQ("(none)", AttributeOf(*attributes, L"img", 0, L"a1000"));
}

TEST(Parser, TagsCutOffByTheEndAreDropped) {
    EXPECT_EQ("<P>kept</P>", Body("<p>kept</p><a href=\"never closed"));
    EXPECT_EQ("<P>kept</P>", Body("<p>kept</p><img src=x"));
    EXPECT_EQ("a &lt; b", Body("a < b"));
    EXPECT_EQ("&lt;", Body("<"));
}

TEST(Urls, ResolveAsTheBrowserDoes) {
    struct Case {
        const wchar_t* base;
        const wchar_t* reference;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"http://a.example/b/c/d.html", L"g.html", L"http://a.example/b/c/g.html"},
        {L"http://a.example/b/c/d.html", L"../g", L"http://a.example/b/g"},
        {L"http://a.example/b/c/d.html", L"../../../../g", L"http://a.example/g"},
        {L"http://a.example/b/c/d.html", L"/g?x#y", L"http://a.example/g?x#y"},
        {L"http://a.example/b/c/d.html?q", L"?r", L"http://a.example/b/c/d.html?r"},
        {L"http://a.example/b/c/d.html?q#f", L"#top", L"http://a.example/b/c/d.html?q#top"},
        {L"http://a.example/b/c/d.html#f", L"", L"http://a.example/b/c/d.html"},
        {L"http://a.example/b/c/d.html", L"//cdn.example/x.js", L"http://cdn.example/x.js"},
        {L"https://a.example/", L"./x/./y/../z", L"https://a.example/x/z"},
        {L"http://a.example", L"x.html", L"http://a.example/x.html"},
        {L"http://a.example/b/", L"  HTTP://WWW.Other.EXAMPLE  ", L"http://www.other.example/"},
        {L"http://a.example/b/", L"http:rel.html", L"http://a.example/b/rel.html"},
        {L"http://a.example/b/", L"\\images\\x.gif", L"http://a.example/images/x.gif"},
        {L"http://a.example/b/", L"javascript:window.open('x')", L"javascript:window.open('x')"},
        {L"http://a.example/b/", L"mailto:me@example.com", L"mailto:me@example.com"},
        {L"file:///Z:/pages/01/index.htm", L"left.htm", L"file:///Z:/pages/01/left.htm"},
        {L"http://a.example/b/", L"C:\\dir\\page.htm", L"file:///C:/dir/page.htm"},
        {L"about:blank", L"x.html", L"x.html"},
        {L"not a url", L"x.html", L"x.html"},
        {L"http://a.example/b/c", L"g\t\n.html", L"http://a.example/b/g.html"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::wstring(c.expected), standin::detail::ResolveUrl(c.base, c.reference))
            << standin::detail::WideToAnsi(c.base) << " + " << standin::detail::WideToAnsi(c.reference);
}

TEST(Text, CharacterReferencesDecodeAsBrowsersDecodeThem) {
    struct Case {
        const char* text;
        bool attribute;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {"&amp;&lt;&gt;&quot;&apos;&nbsp;&eacute;&euro;&hellip;", false, L"&<>\"'\xA0\xE9\x20AC\x2026"},
        {"&#65;&#x42;&#X43;&#0;&#x110000;&#150;", false, L"ABC\xFFFD\xFFFD\x2013"},
        {"&copy 2006 &amp x", false, L"\xA9 2006 & x"},
        {"a=1&copy=2&ampx&nbsp;", true, L"a=1&copy=2&ampx\xA0"},
        {"&unknown; & &#; &#x; &", false, L"&unknown; & &#; &#x; &"},
        {"&#128512;", false, L"\xD83D\xDE00"},
    };
    for (const Case& c : cases) {
        std::wstring out;
        standin::detail::AppendDecoded(out, c.text, std::strlen(c.text), c.attribute);
        EXPECT_EQ(std::wstring(c.expected), out) << c.text;
    }
}
