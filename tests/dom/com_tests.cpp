// The document stand-in through its COM interfaces, as the page scan uses
// them: what each call answers, what writes leave behind, and what the
// instruments count, log and inject.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dom_test_support.h"

using namespace domtest;

namespace {

const char kPage[] =
    "<html><head><title>Test page</title></head>"
    "<body onunload=\"bye()\">"
    "<a id=first href=\"next.html\" target=\"_blank\" title=\"old\">One</a>"
    "<a href=\"/top.html\">Two</a>"
    "<a name=anchor>No address</a>"
    "<div id=box><img src=\"ads/banner.gif\" width=468 height=60><p>text</div>"
    "<img id=photo src=\"photo.jpg\">"
    "<img src=\"http://cdn.example.net/pic.gif\" width=\"50%\">"
    "<object width=\"468\" height=\"60px\"><embed src=\"movie.swf\"></object>"
    "<map name=m><area href=\"x.html\" target=\"main\"></map>"
    "<form action=\"search.cgi\" target=\"results\"></form>"
    "<form name=second></form>"
    "</body></html>";

template <typename Interface>
bool Answers(IDispatch* element) {
    ComPtr<Interface> face;
    return element && SUCCEEDED(element->QueryInterface(IID_PPV_ARGS(&face))) && face;
}

}  // namespace

TEST(DocumentObject, AnswersOnlyTheDocumentInterfacesWithOneIdentity) {
    auto document = Parse(kPage);
    {
        ComPtr<IHTMLDocument2> html = document->Html();
        ASSERT_TRUE(html);
        ComPtr<IUnknown> unknown1, unknown2;
        ComPtr<IHTMLDocument> base;
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(S_OK, html.As(&unknown1));
        ASSERT_EQ(S_OK, html.As(&base));
        ASSERT_EQ(S_OK, html.As(&dispatch));
        ASSERT_EQ(S_OK, document->Html().As(&unknown2));
        EXPECT_EQ(unknown1.Get(), unknown2.Get());

        IHTMLElement* notAnElement = reinterpret_cast<IHTMLElement*>(0xdeadbeef);
        EXPECT_EQ(E_NOINTERFACE, html->QueryInterface(IID_PPV_ARGS(&notAnElement)));
        EXPECT_EQ(nullptr, notAnElement);

        UniqueBstr url, title;
        ASSERT_EQ(S_OK, html->get_URL(url.put()));
        EXPECT_EQ(kPageUrl, Text(url.get()));
        ASSERT_EQ(S_OK, html->get_title(title.put()));
        EXPECT_EQ("Test page", Text(title.get()));
        UniqueBstr cookie;
        EXPECT_EQ(E_NOTIMPL, html->get_cookie(cookie.put()));
    }
    EXPECT_EQ(0, document->LiveRefs());
    EXPECT_EQ(0, document->LiveObjects());
}

TEST(Collections, TagsCountItemAndNameLookUpAsMshtmlDoes) {
    auto document = Parse(kPage);
    ComPtr<IHTMLElementCollection> all = All(*document);
    ASSERT_TRUE(all);
    EXPECT_GT(Length(all.Get()), 15);

    HRESULT hr = E_FAIL;
    ComPtr<IHTMLElementCollection> images = Tags(all.Get(), L"IMG", &hr);  // any letter case
    EXPECT_EQ(S_OK, hr);
    ASSERT_TRUE(images);
    EXPECT_EQ(3, Length(images.Get()));

    ComPtr<IHTMLElementCollection> none = Tags(all.Get(), L"blink", &hr);
    EXPECT_EQ(S_OK, hr);
    ASSERT_TRUE(none);  // an empty collection, not NULL
    EXPECT_EQ(0, Length(none.Get()));

    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    ComPtr<IDispatch> result;
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, all->tags(number, result.ReleaseAndGetAddressOf()));

    ComPtr<IDispatch> past = Item(images.Get(), 3, &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_FALSE(past);
    Item(images.Get(), -1, &hr);
    EXPECT_EQ(E_INVALIDARG, hr);

    // The same element twice is the same object.
    ComPtr<IUnknown> once, twice;
    Item(images.Get(), 1).As(&once);
    Item(images.Get(), 1).As(&twice);
    EXPECT_EQ(once.Get(), twice.Get());

    // By id, in any letter case: the element itself.
    UniqueVariant key;
    V_VT(key.ptr()) = VT_BSTR;
    V_BSTR(key.ptr()) = SysAllocString(L"PHOTO");
    VARIANT empty;
    VariantInit(&empty);
    ComPtr<IDispatch> photo;
    ASSERT_EQ(S_OK, all->item(key.get(), empty, photo.ReleaseAndGetAddressOf()));
    ComPtr<IUnknown> photoIdentity;
    ASSERT_TRUE(photo);
    photo.As(&photoIdentity);
    EXPECT_EQ(once.Get(), photoIdentity.Get());
}

TEST(Elements, EachAnswersOnlyTheInterfacesOfItsTag) {
    auto document = Parse(kPage);
    ComPtr<IHTMLElementCollection> all = All(*document);
    struct Case {
        const wchar_t* tag;
        bool body, frameset, base, anchor, area, form, img, object, embed;
    };
    const Case cases[] = {
        {L"body", true, false, false, false, false, false, false, false, false},
        {L"a", false, false, false, true, false, false, false, false, false},
        {L"area", false, false, false, false, true, false, false, false, false},
        {L"form", false, false, false, false, false, true, false, false, false},
        {L"img", false, false, false, false, false, false, true, false, false},
        {L"object", false, false, false, false, false, false, false, true, false},
        {L"embed", false, false, false, false, false, false, false, false, true},
        {L"div", false, false, false, false, false, false, false, false, false},
    };
    for (const Case& c : cases) {
        ComPtr<IDispatch> element = Item(Tags(all.Get(), c.tag).Get(), 0);
        ASSERT_TRUE(element) << c.tag;
        EXPECT_TRUE(Answers<IHTMLElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.body, Answers<IHTMLBodyElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.frameset, Answers<IHTMLFrameSetElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.base, Answers<IHTMLBaseElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.anchor, Answers<IHTMLAnchorElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.area, Answers<IHTMLAreaElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.form, Answers<IHTMLFormElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.img, Answers<IHTMLImgElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.object, Answers<IHTMLObjectElement>(element.Get())) << c.tag;
        EXPECT_EQ(c.embed, Answers<IHTMLEmbedElement>(element.Get())) << c.tag;
        EXPECT_FALSE(Answers<IHTMLStyle>(element.Get())) << c.tag;
    }
    all.Reset();
    EXPECT_EQ(0, document->LiveRefs());
}

TEST(Elements, GettersAnswerAsMshtml) {
    auto document = Parse(kPage);
    ComPtr<IHTMLAnchorElement> first = Element<IHTMLAnchorElement>(*document, L"a", 0);
    ComPtr<IHTMLAnchorElement> second = Element<IHTMLAnchorElement>(*document, L"a", 1);
    ComPtr<IHTMLAnchorElement> third = Element<IHTMLAnchorElement>(*document, L"a", 2);
    ASSERT_TRUE(first && second && third);
    UniqueBstr text;
    ASSERT_EQ(S_OK, first->get_href(text.put()));
    EXPECT_EQ("http://www.example.com/dir/next.html", Text(text.get()));
    ASSERT_EQ(S_OK, second->get_href(text.put()));
    EXPECT_EQ("http://www.example.com/top.html", Text(text.get()));
    ASSERT_EQ(S_OK, third->get_href(text.put()));
    EXPECT_EQ("", Text(text.get()));  // no address: an empty string
    ASSERT_EQ(S_OK, first->get_target(text.put()));
    EXPECT_EQ("_blank", Text(text.get()));
    ASSERT_EQ(S_OK, second->get_target(text.put()));
    EXPECT_EQ("(null)", Text(text.get()));  // no target: NULL

    ComPtr<IHTMLElement> element;
    ASSERT_EQ(S_OK, first.As(&element));
    ASSERT_EQ(S_OK, element->get_tagName(text.put()));
    EXPECT_EQ("A", Text(text.get()));
    ASSERT_EQ(S_OK, element->get_title(text.put()));
    EXPECT_EQ("old", Text(text.get()));

    ComPtr<IHTMLImgElement> banner = Element<IHTMLImgElement>(*document, L"img", 0);
    ASSERT_TRUE(banner);
    ASSERT_EQ(S_OK, banner->get_src(text.put()));
    EXPECT_EQ("http://www.example.com/dir/ads/banner.gif", Text(text.get()));

    ComPtr<IHTMLAreaElement> area = Element<IHTMLAreaElement>(*document, L"area", 0);
    ComPtr<IHTMLFormElement> form = Element<IHTMLFormElement>(*document, L"form", 0);
    ComPtr<IHTMLFormElement> namedForm = Element<IHTMLFormElement>(*document, L"form", 1);
    ASSERT_TRUE(area && form && namedForm);
    ASSERT_EQ(S_OK, area->get_target(text.put()));
    EXPECT_EQ("main", Text(text.get()));
    ASSERT_EQ(S_OK, form->get_target(text.put()));
    EXPECT_EQ("results", Text(text.get()));
    ASSERT_EQ(S_OK, namedForm->get_target(text.put()));
    EXPECT_EQ("(null)", Text(text.get()));
}

TEST(Elements, ImageSizesComeFromAttributesRenderingOrTheDefault) {
    standin::DomOptions options;
    options.imageSizes = {{"#photo", 120, 90}, {"cdn.example.net", 300, 250}};
    options.defaultImageWidth = 28;
    options.defaultImageHeight = 30;
    const std::string page = std::string(kPage) + "<img src=unknown.gif>";
    auto document = Parse(page, kPageUrl, options);
    const long expected[][2] = {{468, 60}, {120, 90}, {300, 250}, {28, 30}};
    for (long i = 0; i < 4; ++i) {
        ComPtr<IHTMLImgElement> img = Element<IHTMLImgElement>(*document, L"img", i);
        ASSERT_TRUE(img) << i;
        long width = -1, height = -1;
        ASSERT_EQ(S_OK, img->get_width(&width));
        ASSERT_EQ(S_OK, img->get_height(&height));
        EXPECT_EQ(expected[i][0], width) << i;
        EXPECT_EQ(expected[i][1], height) << i;
    }
}

TEST(Elements, PluginSizesAreTheAttributeStrings) {
    auto document = Parse(kPage);
    ComPtr<IHTMLObjectElement> object = Element<IHTMLObjectElement>(*document, L"object", 0);
    ComPtr<IHTMLEmbedElement> embed = Element<IHTMLEmbedElement>(*document, L"embed", 0);
    ASSERT_TRUE(object && embed);
    UniqueVariant value;
    ASSERT_EQ(S_OK, object->get_width(value.put()));
    ASSERT_EQ(VT_BSTR, V_VT(&value.get()));
    EXPECT_EQ("468", Text(V_BSTR(&value.get())));
    ASSERT_EQ(S_OK, object->get_height(value.put()));
    EXPECT_EQ("60px", Text(V_BSTR(&value.get())));
    // Missing: an empty string, not NULL and not VT_EMPTY.
    ASSERT_EQ(S_OK, embed->get_width(value.put()));
    ASSERT_EQ(VT_BSTR, V_VT(&value.get()));
    ASSERT_NE(nullptr, V_BSTR(&value.get()));
    EXPECT_EQ(0u, SysStringLen(V_BSTR(&value.get())));
}

TEST(Writes, AreReadBackAndLoggedInOrder) {
    auto document = Parse(kPage);
    {
        ComPtr<IHTMLAnchorElement> second = Element<IHTMLAnchorElement>(*document, L"a", 1);
        ComPtr<IHTMLImgElement> banner = Element<IHTMLImgElement>(*document, L"img", 0);
        ComPtr<IHTMLObjectElement> object = Element<IHTMLObjectElement>(*document, L"object", 0);
        ComPtr<IHTMLBodyElement> body = Element<IHTMLBodyElement>(*document, L"body", 0);
        ComPtr<IHTMLElement> box = Element<IHTMLElement>(*document, L"div", 0);
        ASSERT_TRUE(second && banner && object && body && box);

        UniqueBstr target(SysAllocString(L"z9z0_blank"));
        ASSERT_EQ(S_OK, second->put_target(target.get()));
        ComPtr<IHTMLElement> secondElement;
        second.As(&secondElement);
        UniqueBstr title(SysAllocString(L"http://www.example.com/top.html"));
        ASSERT_EQ(S_OK, secondElement->put_title(title.get()));
        ASSERT_EQ(S_OK, banner->put_width(0));
        ASSERT_EQ(S_OK, banner->put_height(0));
        ASSERT_EQ(S_OK, banner->put_alt(nullptr));
        VARIANT emptyString;
        VariantInit(&emptyString);
        V_VT(&emptyString) = VT_BSTR;
        V_BSTR(&emptyString) = nullptr;
        ASSERT_EQ(S_OK, object->put_width(emptyString));
        ASSERT_EQ(S_OK, body->put_onunload(emptyString));
        ComPtr<IHTMLStyle> style;
        ASSERT_EQ(S_OK, box->get_style(style.ReleaseAndGetAddressOf()));
        UniqueBstr hidden(SysAllocString(L"hidden"));
        ASSERT_EQ(S_OK, style->put_visibility(hidden.get()));

        UniqueBstr text;
        ASSERT_EQ(S_OK, second->get_target(text.put()));
        EXPECT_EQ("z9z0_blank", Text(text.get()));
        ASSERT_EQ(S_OK, secondElement->get_title(text.put()));
        EXPECT_EQ("http://www.example.com/top.html", Text(text.get()));
        long width = -1;
        ASSERT_EQ(S_OK, banner->get_width(&width));
        EXPECT_EQ(0, width);
        ASSERT_EQ(S_OK, banner->get_alt(text.put()));
        EXPECT_EQ("(null)", Text(text.get()));
        UniqueVariant value;
        ASSERT_EQ(S_OK, object->get_width(value.put()));
        ASSERT_EQ(VT_BSTR, V_VT(&value.get()));
        EXPECT_EQ("", Text(V_BSTR(&value.get())));
        ASSERT_EQ(S_OK, body->get_onunload(value.put()));
        ASSERT_EQ(VT_BSTR, V_VT(&value.get()));
        EXPECT_EQ(nullptr, V_BSTR(&value.get()));
        ASSERT_EQ(S_OK, style->get_visibility(text.put()));
        EXPECT_EQ("hidden", Text(text.get()));
        // The container's own markup shows the changes.
        EXPECT_EQ("<IMG src=\"ads/banner.gif\" width=0 height=0 alt=\"\"><P>text</P>", InnerHtml(box.Get()));
    }
    const std::vector<std::string> expected = {
        "a#1 target = z9z0_blank",
        "a#1 title = http://www.example.com/top.html",
        "img#0 width = 0",
        "img#0 height = 0",
        "img#0 alt = (null)",
        "object#0 width = VT_BSTR(null)",
        "body#0 onunload = VT_BSTR(null)",
        "div#0 visibility = hidden",
    };
    EXPECT_EQ(expected, document->WriteLog());
    const std::vector<standin::PropertyWrite> writes = document->Writes();
    ASSERT_EQ(expected.size(), writes.size());
    EXPECT_EQ(VT_I4, writes[2].type);
    EXPECT_EQ(VT_BSTR, writes[5].type);
    EXPECT_EQ("box", writes[7].id);
    EXPECT_EQ(0, document->LiveRefs());
    EXPECT_EQ(0, standin::LiveBstrs());
}

TEST(Instruments, CountLiveReferencesAndStringsUntilReleased) {
    ASSERT_TRUE(standin::BstrTrackingActive());
    auto document = Parse(kPage);
    const long before = standin::LiveBstrs();
    ComPtr<IHTMLAnchorElement> anchor = Element<IHTMLAnchorElement>(*document, L"a", 0);
    ASSERT_TRUE(anchor);
    EXPECT_EQ(1, document->LiveRefs());
    EXPECT_EQ(1, document->LiveObjects());

    BSTR href = nullptr;
    ASSERT_EQ(S_OK, anchor->get_href(&href));
    EXPECT_EQ(before + 1, standin::LiveBstrs());
    UniqueVariant width;
    ComPtr<IHTMLObjectElement> object = Element<IHTMLObjectElement>(*document, L"object", 0);
    object->get_width(width.put());
    EXPECT_EQ(before + 2, standin::LiveBstrs());
    SysFreeString(href);
    width.put();  // VariantClear frees the string inside
    EXPECT_EQ(before, standin::LiveBstrs());

    // A string the caller makes itself is never counted.
    UniqueBstr own(SysAllocString(L"mine"));
    EXPECT_EQ(before, standin::LiveBstrs());

    // A reference held past the Document's end keeps the tree alive.
    ComPtr<IHTMLElement> element;
    anchor.As(&element);
    anchor.Reset();
    object.Reset();
    document.reset();
    EXPECT_EQ(1, standin::LiveDomRefs());
    UniqueBstr tag;
    ASSERT_EQ(S_OK, element->get_tagName(tag.put()));
    EXPECT_EQ("A", Text(tag.get()));
    element.Reset();
    EXPECT_EQ(0, standin::LiveDomRefs());
}

TEST(Instruments, InjectedFailuresAnswerAsConfigured) {
    auto document = Parse(kPage);
    standin::Failures& failures = document->InjectedFailures();
    failures.tagsFail = {"a"};
    failures.tagsNull = {"area"};
    failures.lengthFail = {"form"};
    failures.itemFail = {{"img", 2}, {"object", -1}};
    failures.missingInterfaces = {{{"img", 1}, IID_IHTMLImgElement}};
    failures.readFail = {{{"img", 0}, "src"}};
    failures.writeFail = {{{"a", -1}, "target"}};

    ComPtr<IHTMLElementCollection> all = All(*document);
    HRESULT hr = S_OK;
    EXPECT_FALSE(Tags(all.Get(), L"a", &hr));
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_FALSE(Tags(all.Get(), L"area", &hr));
    EXPECT_EQ(S_OK, hr);
    long length = 7;
    EXPECT_EQ(E_FAIL, Tags(all.Get(), L"form")->get_length(&length));

    ComPtr<IHTMLElementCollection> images = Tags(all.Get(), L"img");
    Item(images.Get(), 2, &hr);
    EXPECT_EQ(E_FAIL, hr);
    ComPtr<IDispatch> second = Item(images.Get(), 1, &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_FALSE(Answers<IHTMLImgElement>(second.Get()));
    EXPECT_TRUE(Answers<IHTMLElement>(second.Get()));
    Item(Tags(all.Get(), L"object").Get(), 0, &hr);
    EXPECT_EQ(E_FAIL, hr);

    ComPtr<IHTMLImgElement> first;
    Item(images.Get(), 0).As(&first);
    UniqueBstr src;
    EXPECT_EQ(E_FAIL, first->get_src(src.put()));
    EXPECT_FALSE(src);

    // A failing write changes nothing and is not logged.
    failures.tagsFail.clear();
    ComPtr<IHTMLAnchorElement> anchor = Element<IHTMLAnchorElement>(*document, L"a", 0);
    UniqueBstr target(SysAllocString(L"z9z0_blank"));
    EXPECT_EQ(E_FAIL, anchor->put_target(target.get()));
    EXPECT_EQ("_blank", document->FindClickable("a", "0").target);
    EXPECT_TRUE(document->WriteLog().empty());

    failures.allResult = E_OUTOFMEMORY;
    ComPtr<IHTMLElementCollection> noAll;
    EXPECT_EQ(E_OUTOFMEMORY, document->Html()->get_all(noAll.ReleaseAndGetAddressOf()));
    failures.allResult = S_OK;
    failures.allNull = true;
    EXPECT_EQ(S_OK, document->Html()->get_all(noAll.ReleaseAndGetAddressOf()));
    EXPECT_FALSE(noAll);
}

TEST(Instruments, CanBeReadFromAnotherThreadWhileTheDocumentIsWritten) {
    auto document = Parse(kPage);
    std::atomic<bool> done{false};
    std::atomic<long> reads{0};
    std::thread reader([&] {
        while (!done) {
            document->FindClickable("a", "1");
            document->WriteLog();
            ++reads;
        }
    });
    while (reads == 0) Sleep(0);
    for (int round = 0; round < 2000; ++round) {
        ComPtr<IHTMLAnchorElement> anchor = Element<IHTMLAnchorElement>(*document, L"a", 1);
        UniqueBstr target(SysAllocString(round % 2 ? L"z9z1_blank" : L"z9z2_blank"));
        ASSERT_EQ(S_OK, anchor->put_target(target.get()));
    }
    done = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(2000u, document->WriteLog().size());
    EXPECT_EQ("z9z1_blank", document->FindClickable("a", "1").target);
    EXPECT_EQ(0, document->LiveRefs());
}

TEST(FindClickable, ReadsTheElementAsItIsNow) {
    auto document = Parse(kPage);
    standin::ClickTarget click = document->FindClickable("a", "#first");
    ASSERT_TRUE(click.found);
    EXPECT_EQ("http://www.example.com/dir/next.html", click.href);
    EXPECT_EQ("_blank", click.target);

    click = document->FindClickable("a", "text:Two");
    ASSERT_TRUE(click.found);
    EXPECT_EQ("http://www.example.com/top.html", click.href);
    EXPECT_EQ("", click.target);
    EXPECT_TRUE(document->FindClickable("a", "text:address").found);  // contained text
    EXPECT_FALSE(document->FindClickable("a", "text:nowhere").found);
    EXPECT_FALSE(document->FindClickable("a", "9").found);

    {
        ComPtr<IHTMLAnchorElement> anchor = Element<IHTMLAnchorElement>(*document, L"a", 1);
        UniqueBstr target(SysAllocString(L"z9z3_blank"));
        anchor->put_target(target.get());
    }
    EXPECT_EQ("z9z3_blank", document->FindClickable("a", "1").target);

    click = document->FindClickable("area", "0");
    EXPECT_EQ("http://www.example.com/dir/x.html", click.href);
    EXPECT_EQ("main", click.target);
    click = document->FindClickable("form", "0");
    EXPECT_EQ("http://www.example.com/dir/search.cgi", click.href);
    EXPECT_EQ("results", click.target);
    click = document->FindClickable("form", "#second");
    ASSERT_TRUE(click.found);
    EXPECT_EQ(kPageUrl, click.href);  // no action: the page itself
}

TEST(Frames, FramesAndInlineFramesInDocumentOrder) {
    auto document = Parse(
        "<html><head><base href=\"http://other.example/base/\"></head>"
        "<frameset rows=\"50%,*\"><frame name=top src=\"top.html\">"
        "<frameset cols=\"1,2\"><frame name=left src=\"../left.html\"><frame name=empty></frameset>"
        "<noframes><iframe src=nothing.html></iframe></noframes></frameset>",
        "http://www.example.com/dir/index.html");
    const std::vector<standin::FrameDecl>& frames = document->Frames();
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ("top", frames[0].name);
    EXPECT_EQ("http://other.example/base/top.html", frames[0].src);
    EXPECT_EQ("http://other.example/left.html", frames[1].src);
    EXPECT_EQ("about:blank", frames[2].src);

    auto inline_ = Parse(
        "<p><iframe name=ad src=\"/ads/slot.html\" width=300 height=250><a href=x>fallback</a></iframe>"
        "<script>document.write('<iframe src=\"written.html\"></iframe>')</script>");
    ASSERT_EQ(1u, inline_->Frames().size());
    EXPECT_TRUE(inline_->Frames()[0].inlineFrame);
    EXPECT_EQ("ad", inline_->Frames()[0].name);
    EXPECT_EQ("http://www.example.com/ads/slot.html", inline_->Frames()[0].src);
    EXPECT_EQ(0, inline_->CountOf("a"));  // an IFRAME's content is no markup
}
