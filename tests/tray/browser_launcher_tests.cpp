// The default-browser launcher: the command line it builds, and which
// program it starts, with a recorder registered as the browser.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "tray/browser_launcher.h"
#include "tray/ui_test_support.h"

using namespace korvane;

namespace {

std::string Line(const char* command, const char* address) {
    return BrowserCommandLine(command, address).c_str();
}

}  // namespace

TEST(BrowserCommandLine, ThePlaceholderDecidesWhereTheQuotedAddressGoes) {
    struct Case {
        const char* command;
        const char* expected;
    };
    const Case cases[] = {
        // Quoted placeholder: cut at its opening quote; two spaces follow.
        {"\"C:\\Program Files\\Browser\\b.exe\" \"%1\"", "\"C:\\Program Files\\Browser\\b.exe\"  \"A\""},
        // Bare placeholder: cut there; what follows it is dropped.
        {"C:\\b.exe %1 -new -x", "C:\\b.exe  \"A\""},
        {"C:\\b.exe -nohome", "C:\\b.exe -nohome \"A\""},
        {"", " \"A\""},
        // Only "%1" is a placeholder.
        {"C:\\b.exe \"%L\"", "C:\\b.exe \"%L\" \"A\""},
        {"C:\\b.exe %*", "C:\\b.exe %* \"A\""},
        // The quoted form wins even when a bare one comes first.
        {"b.exe %1 \"%1\"", "b.exe %1  \"A\""},
        // Byte by byte and case-sensitive: "%10" still holds "%1".
        {"b.exe %10", "b.exe  \"A\""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Line(c.command, "A")) << c.command;
}

// Page-chosen addresses: whatever they hold, they stay one argument.
TEST(BrowserCommandLine, AnAddressCanNeitherLeaveItsQuotesNorAddArguments) {
    struct Case {
        const char* address;
        const char* expected;
    };
    const Case cases[] = {
        {"http://a/\" -silent \"x", "b.exe \"http://a/%22%20-silent%20%22x\""},
        {"http://a/b c\td\r\ne", "b.exe \"http://a/b%20c%09d%0D%0Ae\""},
        {"http://a/dir\\\\", "b.exe \"http://a/dir%5C%5C\""},
        {"http://a/x\\\" -y", "b.exe \"http://a/x\\%22%20-y\""},
        {"http://a/\\mid", "b.exe \"http://a/\\mid\""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Line("b.exe", c.address)) << c.address;
}

TEST(BrowserCommandLine, AnAddressOfAnyLengthIsAppendedWhole) {
    const std::string address = "http://example.com/" + std::string(10000, 'q') + "?x=1";
    const std::string command(259, 'c');  // the longest registered command
    EXPECT_EQ(command + " \"" + address + "\"", Line(command.c_str(), address.c_str()));
    EXPECT_EQ("b.exe  \"" + address + "\"", Line("b.exe \"%1\" --tail", address.c_str()));
    EXPECT_EQ(" \"\"", Line(nullptr, nullptr));
}

class BrowserLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        recorder = browser.QuotedRecorder();
        // Our own file classes, each naming the recorder with a tag.
        browser.SetClassesValue("KorvaneTestHtml\\shell\\open\\command",
                                (recorder + " html \"%1\"").c_str());
        browser.SetClassesValue("KorvaneTestHtm\\shell\\open\\command",
                                (recorder + " htm \"%1\"").c_str());
        browser.SetClassesValue("KorvaneTestNoCommand", "no command");
        browser.SetClassesValue(".html", "KorvaneTestHtml");
        browser.SetClassesValue(".htm", "KorvaneTestHtm");
        // The program the shell would start is missing, so the launcher
        // falls back to the program registered for HTML files.
        browser.SetClassesValue("http\\shell\\open\\command", "\"C:\\nowhere\\missing.exe\" \"%1\"");
    }
    void ShellOpens() {
        browser.SetClassesValue("http\\shell\\open\\command", (recorder + " shell \"%1\"").c_str());
    }

    test::BrowserStandIn browser;
    std::string recorder;
    const std::string unknown = "http://example.com/page";
    const std::string quoted = "\"http://example.com/page\"";
};

TEST_F(BrowserLauncherTest, WhenTheShellOpensTheAddressTheRegistryIsNotConsulted) {
    ShellOpens();
    BrowserLauncher::OpenUrl("http://example.com/a?b=c");
    const std::vector<std::string> records = browser.TakeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_NE(std::string::npos, records[0].find(" shell ")) << records[0];
    EXPECT_NE(std::string::npos, records[0].find("http://example.com/a?b=c")) << records[0];
}

// A page chose the address: only a web address is opened, by anyone.
TEST_F(BrowserLauncherTest, OnlyWebAddressesAreOpened) {
    ShellOpens();
    browser.SetClassesValue("korvane-test\\shell\\open\\command", (recorder + " other \"%1\"").c_str());
    for (const char* refused : {"file://server/share/x.exe", "korvane-test:page", "javascript:alert(1)",
                                "C:\\x.exe", " http://example.com/", "http:/example.com/", ""}) {
        BrowserLauncher::OpenUrl(refused);
        EXPECT_TRUE(browser.TakeRecords().empty()) << refused;
    }
    BrowserLauncher::OpenUrl("HTTP://example.com/\" -x");
    const std::vector<std::string> records = browser.TakeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_NE(std::string::npos, records[0].find(" shell \"HTTP://example.com/%22%20-x\"")) << records[0];
}

TEST_F(BrowserLauncherTest, WhenTheShellCannotTheHtmlProgramGetsTheAddress) {
    BrowserLauncher::OpenUrl(unknown.c_str());
    const std::vector<std::string> records = browser.TakeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(recorder + " html  " + quoted, records[0]);
}

TEST_F(BrowserLauncherTest, HtmIsConsultedOnlyWhenHtmlCannotBeRead) {
    // A class name too long for the classic buffer cannot be read.
    browser.SetClassesValue(".html", std::string(300, 'K').c_str());
    BrowserLauncher::OpenUrl(unknown.c_str());
    std::vector<std::string> records = browser.TakeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(recorder + " htm  " + quoted, records[0]);

    // ".html" read fine, but its class has no open command: that ends it.
    browser.SetClassesValue(".html", "KorvaneTestNoCommand");
    BrowserLauncher::OpenUrl(unknown.c_str());
    EXPECT_TRUE(browser.TakeRecords().empty());

    // Neither can be read: nothing happens.
    browser.SetClassesValue(".htm", std::string(300, 'K').c_str());
    browser.SetClassesValue(".html", std::string(300, 'K').c_str());
    BrowserLauncher::OpenUrl(unknown.c_str());
    EXPECT_TRUE(browser.TakeRecords().empty());
}

TEST_F(BrowserLauncherTest, TheRegisteredCommandShapesTheCommandLine) {
    struct Case {
        std::string command;
        std::string expected;
    };
    const Case cases[] = {
        {recorder + " bare %1 --dropped", recorder + " bare  " + quoted},
        {recorder + " none", recorder + " none " + quoted},
        {recorder + " other \"%L\"", recorder + " other \"%L\" " + quoted},
    };
    for (const Case& c : cases) {
        browser.SetClassesValue("KorvaneTestHtml\\shell\\open\\command", c.command.c_str());
        BrowserLauncher::OpenUrl(unknown.c_str());
        const std::vector<std::string> records = browser.TakeRecords();
        ASSERT_EQ(1u, records.size()) << c.command;
        EXPECT_EQ(c.expected, records[0]);
    }
}

TEST_F(BrowserLauncherTest, AnEmptyCommandStartsNothing) {
    browser.SetClassesValue("KorvaneTestHtml\\shell\\open\\command", "");
    BrowserLauncher::OpenUrl(unknown.c_str());
    EXPECT_TRUE(browser.TakeRecords().empty());
}

TEST_F(BrowserLauncherTest, ALongAddressGoesWholeToTheRegisteredProgramNotTheShell) {
    // Up to 520 bytes the shell is asked first.
    ShellOpens();
    const std::string longest = "http://example.com/" + std::string(520 - 19, 'y');
    BrowserLauncher::OpenUrl(longest.c_str());
    std::vector<std::string> records = browser.TakeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_NE(std::string::npos, records[0].find(" shell "));

    const std::string address = "http://example.com/" + std::string(10000, 'z') + "?q=1";
    browser.SetClassesValue("KorvaneTestHtml\\shell\\open\\command",
                            (recorder + " long %1").c_str());
    BrowserLauncher::OpenUrl(address.c_str());
    records = browser.TakeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(recorder + " long  \"" + address + "\"", records[0]);
}
