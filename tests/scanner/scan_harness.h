// Running the page scan over a stand-in document the way the browser's
// events do, for the scanner's test programs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dom/dom.h"
#include "scanner/fake_browser.h"
#include "scanner/page_scanner.h"
#include "scanner/target_rules.h"
#include "state/shared_state.h"

namespace korvane::test {

enum class Window { Top, Frame };
enum class Event { DocumentComplete, DownloadComplete };
enum class Banners { Blocked, Allowed };

struct How {
    Window window = Window::Top;
    Event event = Event::DocumentComplete;
    Banners banners = Banners::Blocked;
};

// Runs one scan the way the browser events do, then checks that the scan
// gave back every reference and every string it took.
inline HRESULT Scan(standin::Document& page, How how = {}) {
    sharedState->blockBannerAds = how.banners == Banners::Blocked ? 1 : 0;
    const BYTE inDocumentComplete = how.event == Event::DocumentComplete ? 1 : 0;
    HRESULT result = E_UNEXPECTED;
    {
        FakeBrowser window(how.window == Window::Top ? page.Html().Get() : nullptr);
        FakeBrowser frame(how.window == Window::Frame ? page.Html().Get() : nullptr);
        IWebBrowser2* eventBrowser = how.window == Window::Top ? &window : &frame;
        result = ScanPage(eventBrowser, &window, inDocumentComplete);
        EXPECT_EQ(0, window.References());
        EXPECT_EQ(0, frame.References());
    }
    EXPECT_EQ(0, page.LiveRefs()) << "references left on the document";
    if (standin::BstrTrackingActive()) {
        EXPECT_EQ(0, standin::LiveBstrs()) << "strings not freed";
    }
    return result;
}

inline std::vector<std::string> Writes(standin::Document& page) { return page.WriteLog(); }

// The writes whose text contains one of the given pieces, e.g. " target = ".
inline std::vector<std::string> WritesWith(standin::Document& page,
                                           std::initializer_list<std::string> pieces) {
    std::vector<std::string> matching;
    for (const std::string& write : page.WriteLog())
        for (const std::string& piece : pieces)
            if (write.find(piece) != std::string::npos) {
                matching.push_back(write);
                break;
            }
    return matching;
}

inline std::vector<std::string> WritesWith(standin::Document& page, const std::string& piece) {
    return WritesWith(page, {piece});
}

using Lines = std::vector<std::string>;

// The next rewritten "_blank" will be z9z0_blank, as in a fresh process.
inline void RewindBlankCounter() {
    while (BlankTargetCounter() != 0) MakeRewrittenTarget("_blank");
}

inline std::string Blank(int number) { return "z9z" + std::to_string(number) + "_blank"; }

// Keeps the banner switch as the test found it.
class ScanTest : public ::testing::Test {
protected:
    void SetUp() override { savedBanners_ = sharedState->blockBannerAds; }
    void TearDown() override { sharedState->blockBannerAds = savedBanners_; }

private:
    BYTE savedBanners_ = 0;
};

}  // namespace korvane::test
