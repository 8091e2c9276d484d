// Any bytes at all: random data, tag soup, real pages cut off or damaged.
// Every document must parse, answer every call on every element, and leave
// no reference or string alive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dom_test_support.h"

using namespace domtest;

namespace {

class Random {
public:
    explicit Random(unsigned seed) : state_(seed) {}
    unsigned Next(unsigned bound) {
        state_ = state_ * 1103515245u + 12345u;
        return bound ? (state_ >> 8) % bound : 0;
    }

private:
    unsigned state_;
};

template <typename Interface>
ComPtr<Interface> As(IDispatch* element) {
    ComPtr<Interface> face;
    element->QueryInterface(IID_PPV_ARGS(&face));
    return face;
}

// Calls every implemented getter (and a few setters) of one element.
void TouchElement(IDispatch* dispatch) {
    UniqueBstr text;
    UniqueVariant value;
    if (auto element = As<IHTMLElement>(dispatch)) {
        element->get_tagName(text.put());
        element->get_id(text.put());
        element->get_className(text.put());
        element->get_title(text.put());
        element->get_innerHTML(text.put());
        element->get_outerHTML(text.put());
        element->get_innerText(text.put());
        UniqueBstr name(SysAllocString(L"href"));
        element->getAttribute(name.get(), 0, value.put());
        ComPtr<IHTMLStyle> style;
        if (SUCCEEDED(element->get_style(style.ReleaseAndGetAddressOf())) && style) {
            style->get_visibility(text.put());
            UniqueBstr hidden(SysAllocString(L"hidden"));
            style->put_visibility(hidden.get());
        }
        ComPtr<IHTMLElement> parent;
        element->get_parentElement(parent.ReleaseAndGetAddressOf());
        ComPtr<IDispatch> owner;
        element->get_document(owner.ReleaseAndGetAddressOf());
    }
    if (auto body = As<IHTMLBodyElement>(dispatch)) {
        body->get_onunload(value.put());
        VARIANT empty;
        VariantInit(&empty);
        V_VT(&empty) = VT_BSTR;
        body->put_onunload(empty);
    }
    if (auto anchor = As<IHTMLAnchorElement>(dispatch)) {
        anchor->get_href(text.put());
        anchor->get_target(text.put());
        UniqueBstr target(SysAllocString(L"z9z0_blank"));
        anchor->put_target(target.get());
    }
    if (auto area = As<IHTMLAreaElement>(dispatch)) area->get_target(text.put());
    if (auto form = As<IHTMLFormElement>(dispatch)) {
        form->get_action(text.put());
        form->get_target(text.put());
    }
    if (auto base = As<IHTMLBaseElement>(dispatch)) base->get_target(text.put());
    if (auto img = As<IHTMLImgElement>(dispatch)) {
        img->get_src(text.put());
        long size = 0;
        img->get_width(&size);
        img->get_height(&size);
        img->put_width(0);
        img->put_alt(nullptr);
    }
    if (auto object = As<IHTMLObjectElement>(dispatch)) {
        object->get_width(value.put());
        VARIANT empty;
        VariantInit(&empty);
        V_VT(&empty) = VT_BSTR;
        object->put_height(empty);
    }
    if (auto embed = As<IHTMLEmbedElement>(dispatch)) embed->get_height(value.put());
}

std::string Narrow(const wchar_t* tag) {
    std::string narrow;
    for (; *tag; ++tag) narrow.push_back(static_cast<char>(*tag));
    return narrow;
}

// Touches every element of the all collection, then checks that nothing
// is left alive.
void TouchEverything(const std::string& html, const std::string& what) {
    auto document = Parse(html);
    {
        ComPtr<IHTMLElementCollection> all = All(*document);
        ASSERT_TRUE(all) << what;
        const long length = Length(all.Get());
        ASSERT_GE(length, 2) << what;  // html and body (or frameset) at least
        for (long i = 0; i < length; ++i) {
            ComPtr<IDispatch> element = Item(all.Get(), i);
            ASSERT_TRUE(element) << what << " element " << i;
            TouchElement(element.Get());
        }
        for (const wchar_t* tag : {L"a", L"img", L"div", L"body", L"frameset"}) {
            ComPtr<IHTMLElementCollection> elements = Tags(all.Get(), tag);
            ASSERT_TRUE(elements) << what;
            EXPECT_EQ(document->CountOf(Narrow(tag)), Length(elements.Get())) << what;
        }
    }
    for (const standin::FrameDecl& frame : document->Frames()) EXPECT_FALSE(frame.src.empty()) << what;
    EXPECT_EQ(0, document->LiveRefs()) << what;
    EXPECT_EQ(0, standin::LiveBstrs()) << what;
}

const char* const kTokens[] = {
    "<a href=x.html target=_blank>", "</a>", "<img src=\"ad.gif?x=1\" width=468 height=60>",
    "<div>", "</div>", "<p>", "</p>", "<table>", "<tr>", "<td>", "</td>", "</table>", "<li>",
    "<ul>", "</ul>", "<form action=f target=t>", "</form>", "<frameset>", "<frame src=f.html>",
    "</frameset>", "<iframe src=i.html>", "</iframe>", "<script>", "</script>", "<style>",
    "<noscript>", "</noscript>", "<svg><path d=x/>", "</svg>", "<math>", "<select><option>",
    "<body onunload=x>", "<html>", "<head>", "<title>", "</title>", "<textarea>", "<plaintext>",
    "<!--", "-->", "<!doctype html>", "<base href=http://b.example/ target=main>", "<object>",
    "<embed src=e width=1>", "</object>", "<map><area href=a target=_top>", "<xmp>", "</xmp>",
    "<h1>", "</h2>", "<b>", "<i>", "</b>", "text", " ", "\r\n", "&amp;", "&#x41;", "&", "<", ">",
    "\"", "'", "=", "/", "</", "<!", "<?", "</>", "<a", "\0", "\xE9", "\xA1\xA1",
};

}  // namespace

TEST(Robustness, RandomBytes) {
    Random random(20061224);
    const char markup[] = "<<>>//==\"\"''  abcdeimgdivascript!--&#;\r\n\t";
    for (int round = 0; round < 500; ++round) {
        std::string html;
        const unsigned length = random.Next(3000);
        for (unsigned i = 0; i < length; ++i)
            html.push_back(random.Next(4) ? markup[random.Next(sizeof markup - 1)]
                                          : static_cast<char>(random.Next(256)));
        TouchEverything(html, "random round " + std::to_string(round));
        if (HasFatalFailure()) return;
    }
}

TEST(Robustness, TagSoup) {
    Random random(1999);
    for (int round = 0; round < 1000; ++round) {
        std::string html;
        const unsigned count = random.Next(400);
        for (unsigned i = 0; i < count; ++i) {
            const unsigned token = random.Next(sizeof kTokens / sizeof kTokens[0]);
            // The one empty token stands for a NUL byte.
            html += kTokens[token][0] ? std::string(kTokens[token]) : std::string(1, '\0');
        }
        TouchEverything(html, "soup round " + std::to_string(round));
        if (HasFatalFailure()) return;
    }
}

TEST(Robustness, RealPagesCutOffAndDamaged) {
    if (!CorpusAvailable()) GTEST_SKIP() << "no page corpus at " << CorpusPath("");
    const char* const pages[] = {
        "01-qsl-ustc-ham-radio-frameset/index.htm", "02-tukuma-fashion-2003-frameset/index.html",
        "04-wired-news-1999.html", "06-oceanweb-banner-ads-2000.html", "12-cbs-sportsline-nfl-2006.html",
        "14-usgenweb-2006.html", "17-yahoo-japan-news.html",
    };
    Random random(42);
    for (const char* page : pages) {
        const std::string html = ReadCorpusPage(page);
        ASSERT_FALSE(html.empty()) << page;
        for (int cut = 0; cut < 12; ++cut) {
            const size_t at = random.Next(static_cast<unsigned>(html.size()));
            TouchEverything(html.substr(0, at), std::string(page) + " cut at " + std::to_string(at));
            std::string damaged = html;
            for (int flip = 0; flip < 20; ++flip)
                damaged[random.Next(static_cast<unsigned>(damaged.size()))] = static_cast<char>(random.Next(256));
            TouchEverything(damaged, std::string(page) + " damaged, round " + std::to_string(cut));
            if (HasFatalFailure()) return;
        }
    }
}

TEST(Robustness, HugePagesStayLinear) {
    // A megabyte of unclosed elements, stray end tags and open comments:
    // quadratic work here would not finish within the test's time.
    std::string html;
    for (int i = 0; i < 60000; ++i) html += "<font><b>";
    for (int i = 0; i < 60000; ++i) html += "</span></li>";
    html += "<table>";
    for (int i = 0; i < 20000; ++i) html += "<td><li><a href=x>";
    auto document = Parse(html);
    EXPECT_EQ(60000, document->CountOf("font"));
    EXPECT_EQ(20000, document->CountOf("a"));
    EXPECT_EQ(20000, document->CountOf("li"));

    const std::string page = standin::GeneratePage(100000, 7);
    EXPECT_EQ(page, standin::GeneratePage(100000, 7));
    auto generated = Parse(page);
    {
        ComPtr<IHTMLElementCollection> all = All(*generated);
        EXPECT_GE(Length(all.Get()), 100000);
        EXPECT_LE(Length(all.Get()), 100003);
    }
    EXPECT_GE(generated->CountOf("a") + generated->CountOf("img") + generated->CountOf("div"), 50000);
    const WalkCounts counts = ScanLikeWalk(*generated);
    EXPECT_EQ(generated->CountOf("img"), counts.img);
    EXPECT_EQ(0, generated->LiveRefs());
    EXPECT_EQ(0, standin::LiveBstrs());
}
