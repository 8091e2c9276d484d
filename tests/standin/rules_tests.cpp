// The stand-in's plain rules: addresses, page files, targets, session file
// syntax and the argument blocks of the events.
#include <gtest/gtest.h>

#include "browser/event_args.h"
#include "browser/navigation_rules.h"
#include "browser/session_script.h"
#include "browser/text_conversion.h"

namespace standin {
namespace {

TEST(NavigationRules, ResolvesReferencesAgainstTheDocument) {
    struct Case {
        const char* base;
        const char* reference;
        const char* expected;
    };
    const Case cases[] = {
        {"http://news.example/a/b.html", "c.html", "http://news.example/a/c.html"},
        {"http://news.example/a/b.html", "  c.html\n", "http://news.example/a/c.html"},
        {"http://news.example/a/b.html", "../c.html", "http://news.example/c.html"},
        {"http://news.example/a/b.html", "../../../c.html", "http://news.example/c.html"},
        {"http://news.example/a/b.html", "./x/./y.html", "http://news.example/a/x/y.html"},
        {"http://news.example/a/b.html", "/top.html", "http://news.example/top.html"},
        {"http://news.example/a/b.html", "//ads.example/pop.html", "http://ads.example/pop.html"},
        {"http://news.example/a/b.html?q=1", "?q=2", "http://news.example/a/b.html?q=2"},
        {"http://news.example/a/b.html?q=1#x", "#y", "http://news.example/a/b.html?q=1#y"},
        {"http://news.example/a/b.html#x", "", "http://news.example/a/b.html"},
        {"http://news.example/a/", "..", "http://news.example/"},
        {"http://news.example", "x.html", "http://news.example/x.html"},
        {"http://news.example/a/b.html", "HTTP://Other.example/Z", "HTTP://Other.example/Z"},
        {"http://news.example/a/b.html", "javascript:window.open('x')", "javascript:window.open('x')"},
        {"http://news.example/a/b.html", "c.html?a=../b#../c", "http://news.example/a/c.html?a=../b#../c"},
        {"about:blank", "c.html", "c.html"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, ResolveUrl(c.base, c.reference)) << c.base << " + " << c.reference;
}

TEST(NavigationRules, MapsAddressesToPageFilesInsideTheSiteOnly) {
    struct Case {
        const char* url;
        const char* expected;
    };
    const Case cases[] = {
        {"http://news.example/index.html", "C:\\site\\news.example\\index.html"},
        {"HTTP://News.Example/Index.html", "C:\\site\\news.example\\Index.html"},
        {"https://news.example/", "C:\\site\\news.example\\index.html"},
        {"http://news.example", "C:\\site\\news.example\\index.html"},
        {"http://news.example:8080/a/b.html?x=1#top", "C:\\site\\news.example\\a\\b.html"},
        {"http://news.example/a%20b.html", "C:\\site\\news.example\\a b.html"},
        {"http://news.example//a///b.html", "C:\\site\\news.example\\a\\b.html"},
        // Nothing may lead out of the site folder or name a device or stream.
        {"http://news.example/../secret.txt", ""},
        {"http://news.example/%2e%2e/secret.txt", ""},
        {"http://news.example/a%2f..%2f..%2fb", ""},
        {"http://news.example/a%5cb", ""},
        {"http://news.example/c:/windows", ""},
        {"http://news.example/file.txt:stream", ""},
        {"http://../x.html", ""},
        {"ftp://news.example/x.html", ""},
        {"javascript:alert(1)", ""},
        {"about:blank", ""},
        {"news.example/index.html", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, PageFileForUrl("C:\\site", c.url)) << c.url;
    EXPECT_EQ("", PageFileForUrl("C:\\site", "http://news.example/" + std::string(40000, 'a')));
}

TEST(NavigationRules, TellsTargetKeywordsFromNames) {
    EXPECT_EQ(TargetKind::Self, ClassifyTarget(""));
    EXPECT_EQ(TargetKind::Self, ClassifyTarget("_SELF"));
    EXPECT_EQ(TargetKind::Parent, ClassifyTarget("_parent"));
    EXPECT_EQ(TargetKind::Top, ClassifyTarget("_Top"));
    EXPECT_EQ(TargetKind::Blank, ClassifyTarget("_blank"));
    EXPECT_EQ(TargetKind::Named, ClassifyTarget("_new"));
    EXPECT_EQ(TargetKind::Named, ClassifyTarget("main"));
    EXPECT_TRUE(IsScriptUrl(" JavaScript:void(0)"));
    EXPECT_FALSE(IsScriptUrl("http://javascript.example/"));
}

TEST(SessionScript, TokenizesQuotesCommentsAndEscapes) {
    bool unbalanced = false;
    EXPECT_EQ((std::vector<std::string>{"click", "w1", "\"Read more\"", "ctrl"}),
              Tokenize("click w1 \"Read more\" ctrl   # a comment", &unbalanced));
    EXPECT_FALSE(unbalanced);
    EXPECT_EQ((std::vector<std::string>{"fire", "w1", "250", "str:\"a \\\" b\""}),
              Tokenize("fire w1 250 str:\"a \\\" b\"", &unbalanced));
    EXPECT_EQ("str:a \" b", Unquote("str:\"a \\\" b\""));
    EXPECT_EQ((std::vector<std::string>{"click", "w1", "#more"}), Tokenize("click w1 #more", &unbalanced));
    Tokenize("open \"http://x", &unbalanced);
    EXPECT_TRUE(unbalanced);
}

TEST(SessionScript, ParsesElementSelectorsAndKeys) {
    ElementSelector selector;
    std::string error;
    ASSERT_TRUE(ParseSelector("#more", &selector, &error));
    EXPECT_EQ("a", selector.tag);
    EXPECT_EQ(ElementSelector::Kind::Id, selector.kind);
    EXPECT_EQ("more", selector.value);
    ASSERT_TRUE(ParseSelector("area[2]", &selector, &error));
    EXPECT_EQ("area", selector.tag);
    EXPECT_EQ(ElementSelector::Kind::Index, selector.kind);
    EXPECT_EQ(2, selector.index);
    ASSERT_TRUE(ParseSelector("FORM#search", &selector, &error));
    EXPECT_EQ("form", selector.tag);
    ASSERT_TRUE(ParseSelector("\"Read more\"", &selector, &error));
    EXPECT_EQ(ElementSelector::Kind::Text, selector.kind);
    EXPECT_EQ("Read more", selector.value);
    EXPECT_FALSE(ParseSelector("div#x", &selector, &error));
    EXPECT_FALSE(ParseSelector("[-1]", &selector, &error));
    EXPECT_FALSE(ParseSelector("more", &selector, &error));
    EXPECT_FALSE(ParseSelector("#", &selector, &error));

    UINT key = 0;
    EXPECT_TRUE(ParseKeyName("F10", &key));
    EXPECT_EQ(static_cast<UINT>(VK_F10), key);
    EXPECT_TRUE(ParseKeyName("ctrl", &key));
    EXPECT_EQ(static_cast<UINT>(VK_CONTROL), key);
    EXPECT_TRUE(ParseKeyName("vk:0x41", &key));
    EXPECT_EQ(0x41u, key);
    EXPECT_FALSE(ParseKeyName("f25", &key));
    EXPECT_FALSE(ParseKeyName("vk:0x1FF", &key));
}

TEST(SessionScript, ReadsAWholeSessionAndItsOptions) {
    const char* text =
        "\xEF\xBB\xBF# a session\r\n"
        "site pages\r\n"
        "option connection-points off\n"
        "option site unknown\n"
        "option helpers {71E2F91E-8F28-4C4E-B9E7-3E2D04F8FE5D}\n"
        "option timeout 5000\n"
        "option leak-check off\n"
        "open http://news.example/index.html\n"
        "click w1/main a\"Next page\" ctrl shift\n"
        "fire w1 BeforeNavigate2 self str:\"http://x/\" i4:0 nullstr postdata nullstr cancel\n"
        "fire w1 259 no-params\n"
        "expect blocked http://ads.example/pop.html\n";
    Script script;
    std::vector<std::string> errors;
    ASSERT_TRUE(ParseScript(text, "C:\\sessions", &script, &errors)) << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ("C:\\sessions\\pages", script.options.siteFolder);
    EXPECT_FALSE(script.options.connectionPoints);
    EXPECT_EQ(SiteKind::PlainUnknown, script.options.site);
    ASSERT_EQ(1u, script.options.onlyHelpers.size());
    EXPECT_EQ(5000u, script.options.stepTimeoutMs);
    EXPECT_FALSE(script.leakCheck);
    ASSERT_EQ(5u, script.steps.size());
    EXPECT_EQ("click", script.steps[1].verb);
    EXPECT_EQ(9, script.steps[1].line);
}

TEST(SessionScript, ReportsEveryFaultyLineByNumber) {
    const char* text =
        "open http://news.example/\n"
        "option site browser\n"          // 2: after a step
        "click w1 more\n"                // 3: no selector
        "click x1 #more\n"               // 4: no window
        "frobnicate w1\n"                // 5: unknown step
        "fire w1 250 str:\"open\n"       // 6: quote
        "fire w1 NoSuchEvent\n"          // 7: event
        "fire w1 250 bigstr:-1\n"        // 8: length
        "expect windows many\n"          // 9: number
        "expect sunshine\n"              // 10: unknown
        "wait 9999999\n"                 // 11: too long
        "key w1 f99 press\n"             // 12: key
        "load w1\n";                     // 13: argument count
    Script script;
    std::vector<std::string> errors;
    EXPECT_FALSE(ParseScript(text, "", &script, &errors));
    ASSERT_EQ(12u, errors.size());
    for (size_t i = 0; i < errors.size(); ++i)
        EXPECT_EQ(0u, errors[i].find("line " + std::to_string(i + 2) + ":")) << errors[i];
}

TEST(SessionScript, ParsesRawArguments) {
    RawArg arg;
    std::string error;
    ASSERT_TRUE(ParseRawArg("frame:main", &arg, &error));
    EXPECT_EQ(RawArg::Kind::Browser, arg.kind);
    EXPECT_EQ("main", arg.text);
    ASSERT_TRUE(ParseRawArg("bigstr:300000", &arg, &error));
    EXPECT_TRUE(arg.big);
    EXPECT_EQ(300000, arg.number);
    EXPECT_FALSE(ParseRawArg("bigstr:99999999999", &arg, &error));
    EXPECT_FALSE(ParseRawArg("i4:twelve", &arg, &error));
    EXPECT_FALSE(ParseRawArg("whatever", &arg, &error));
}

// The browser's layout, as the handlers read it: arguments last first.
TEST(EventArgs, BeforeNavigate2HasTheBrowsersLayout) {
    IDispatch* browser = reinterpret_cast<IDispatch*>(0x1234);
    const std::wstring target = L"_blank";
    auto args = EventArgs::BeforeNavigate2(browser, L"http://ads.example/pop.html", &target);
    DISPPARAMS* params = args->Params();
    ASSERT_EQ(7u, params->cArgs);
    EXPECT_EQ(0u, params->cNamedArgs);
    EXPECT_EQ(nullptr, params->rgdispidNamedArgs);
    VARIANT* v = params->rgvarg;
    EXPECT_EQ(VT_DISPATCH, v[6].vt);
    EXPECT_EQ(browser, v[6].pdispVal);
    ASSERT_EQ(VT_BYREF | VT_VARIANT, v[5].vt);
    ASSERT_EQ(VT_BSTR, v[5].pvarVal->vt);
    EXPECT_STREQ(L"http://ads.example/pop.html", v[5].pvarVal->bstrVal);
    ASSERT_EQ(VT_BYREF | VT_VARIANT, v[4].vt);
    EXPECT_EQ(VT_I4, v[4].pvarVal->vt);
    ASSERT_EQ(VT_BYREF | VT_VARIANT, v[3].vt);
    ASSERT_EQ(VT_BSTR, v[3].pvarVal->vt);
    EXPECT_STREQ(L"_blank", v[3].pvarVal->bstrVal);
    ASSERT_EQ(VT_BYREF | VT_VARIANT, v[2].vt);
    ASSERT_EQ(VT_BYREF | VT_VARIANT, v[2].pvarVal->vt);
    EXPECT_EQ(VT_EMPTY, v[2].pvarVal->pvarVal->vt);
    ASSERT_EQ(VT_BYREF | VT_VARIANT, v[1].vt);
    EXPECT_EQ(VT_BSTR, v[1].pvarVal->vt);
    EXPECT_EQ(nullptr, v[1].pvarVal->bstrVal);
    ASSERT_EQ(VT_BYREF | VT_BOOL, v[0].vt);
    EXPECT_EQ(VARIANT_FALSE, *v[0].pboolVal);
    *v[0].pboolVal = VARIANT_TRUE;
    EXPECT_TRUE(args->Cancelled());

    // An ordinary navigation has a null target name.
    auto plain = EventArgs::BeforeNavigate2(browser, L"http://x/", nullptr);
    EXPECT_EQ(nullptr, plain->Params()->rgvarg[3].pvarVal->bstrVal);
}

TEST(EventArgs, NewWindow2AndTheCompletionEventsHaveTheBrowsersLayout) {
    auto window = EventArgs::NewWindow2();
    ASSERT_EQ(2u, window->Params()->cArgs);
    VARIANT* v = window->Params()->rgvarg;
    ASSERT_EQ(VT_BYREF | VT_DISPATCH, v[1].vt);
    EXPECT_EQ(nullptr, *v[1].ppdispVal);
    ASSERT_EQ(VT_BYREF | VT_BOOL, v[0].vt);
    EXPECT_FALSE(window->Cancelled());

    IDispatch* browser = reinterpret_cast<IDispatch*>(0x1234);
    auto complete = EventArgs::BrowserAndUrl(browser, L"http://news.example/");
    ASSERT_EQ(2u, complete->Params()->cArgs);
    v = complete->Params()->rgvarg;
    EXPECT_EQ(VT_DISPATCH, v[1].vt);
    EXPECT_EQ(browser, v[1].pdispVal);
    ASSERT_EQ(VT_BYREF | VT_VARIANT, v[0].vt);
    EXPECT_STREQ(L"http://news.example/", v[0].pvarVal->bstrVal);

    auto none = EventArgs::Empty();
    EXPECT_EQ(0u, none->Params()->cArgs);
    EXPECT_EQ(nullptr, none->Params()->rgvarg);
}

TEST(EventArgs, RawEventsTakeAnyArgumentsInDeclarationOrder) {
    std::vector<RawArg> args(4);
    std::string error;
    ASSERT_TRUE(ParseRawArg("self", &args[0], &error));
    ASSERT_TRUE(ParseRawArg("bigstr:100000", &args[1], &error));
    ASSERT_TRUE(ParseRawArg("bstr:plain", &args[2], &error));
    ASSERT_TRUE(ParseRawArg("null-ref", &args[3], &error));
    IDispatch* browser = reinterpret_cast<IDispatch*>(0x1234);
    auto block = RawEventBuilder::Build(args, [browser](const std::string&) { return browser; });
    ASSERT_EQ(4u, block->Params()->cArgs);
    VARIANT* v = block->Params()->rgvarg;
    EXPECT_EQ(browser, v[3].pdispVal);
    EXPECT_EQ(100000u, SysStringLen(v[2].pvarVal->bstrVal));
    EXPECT_EQ(VT_BSTR, v[1].vt);
    EXPECT_EQ(VT_BYREF | VT_VARIANT, v[0].vt);
    EXPECT_EQ(nullptr, v[0].pvarVal);
    EXPECT_NE(std::string::npos, DescribeArgs(block->Params()).find("[2] VT_BYREF|VT_VARIANT -> VT_BSTR"));
    EXPECT_EQ("no DISPPARAMS", DescribeArgs(nullptr));
}

TEST(EventArgs, NamesEventsBothWays) {
    DISPID dispid = 0;
    EXPECT_TRUE(ParseEventName("documentcomplete", &dispid));
    EXPECT_EQ(259, dispid);
    EXPECT_TRUE(ParseEventName("271", &dispid));
    EXPECT_EQ(271, dispid);
    EXPECT_FALSE(ParseEventName("27x", &dispid));
    EXPECT_EQ("NewWindow2", EventName(251));
    EXPECT_EQ("DISPID 999", EventName(999));
}

}  // namespace
}  // namespace standin
