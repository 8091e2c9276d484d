#include <gtest/gtest.h>

#include <string>

#include "dialogs/whitelist_entry_rules.h"

using namespace korvane;

TEST(WhiteListEntryRules, AddLinkDropsTheQuery) {
    EXPECT_STREQ("http://ads.example.com/pop/up.html",
                 LinkEntryFromAddress("http://ads.example.com/pop/up.html?id=7&x=?").c_str());
    EXPECT_STREQ("http://a.example/", LinkEntryFromAddress("http://a.example/").c_str());
    EXPECT_STREQ("", LinkEntryFromAddress("?only-a-query").c_str());
    EXPECT_STREQ("", LinkEntryFromAddress(nullptr).c_str());
}

TEST(WhiteListEntryRules, AddSiteKeepsSchemeSlashesAndHost) {
    struct Case {
        const char* address;
        const char* entry;
    };
    const Case cases[] = {
        {"http://ads.example.com/pop/up.html?id=7", "http://ads.example.com"},
        {"https://a.example:8080/", "https://a.example:8080"},
        {"http://a.example", "http://a.example"},             // two slashes only
        {"http://a.example?q=/x/y/z", "http://a.example"},    // slashes in the query do not count
        {"about:blank", "about:blank"},
        {"file:///C:/x/y.html", "file://"},                    // the third slash comes at once
        {"a/b/c/d", "a/b/c"},
    };
    for (const Case& c : cases) EXPECT_STREQ(c.entry, SiteEntryFromAddress(c.address).c_str()) << c.address;
}

TEST(WhiteListEntryRules, ATypedSiteWithoutAColonGetsHttp) {
    EXPECT_STREQ("http://www.example.com", EntryFromTypedSite("www.example.com").c_str());
    EXPECT_STREQ("https://example.com", EntryFromTypedSite("https://example.com").c_str());
    EXPECT_STREQ("example.com:8080", EntryFromTypedSite("example.com:8080").c_str());
    EXPECT_STREQ("http://", EntryFromTypedSite("").c_str());
    const std::string longText(300, 'w');
    EXPECT_EQ("http://" + longText, EntryFromTypedSite(longText.c_str()).c_str());
}
