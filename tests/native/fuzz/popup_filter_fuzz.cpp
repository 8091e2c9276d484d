// The white list match, the "javascript:" rule and the first conditions of the popup
// judgement against the same rules written out plainly: an http entry's https
// twin is built whole here, where the rule compares it in two pieces. Input: an
// address, then white list entries, separated by NULs; the first byte of
// the address also gives the switches.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "helper/popup_filter.h"

using namespace korvane;

namespace {

bool BeginsAlike(const std::string& url, const std::string& text) {
    const size_t n = std::min(url.size(), text.size());
    return fuzz::Lowered(url.substr(0, n)) == fuzz::Lowered(text.substr(0, n));
}

bool ExpectedMatch(const std::string& url, const std::string& entry) {
    if (BeginsAlike(url, entry)) return true;
    // Only an http entry has a twin: any other scheme's would begin every
    // https address.
    return fuzz::Lowered(entry.substr(0, 5)) == "http:" &&
           BeginsAlike(url, "https" + entry.substr(4));
}

bool ExpectedJavascript(const std::string& url) {
    return url.size() >= 11 && fuzz::Lowered(url.substr(0, 11)) == "javascript:";
}

bool ExpectedOverride(const std::string& url) {
    return ExpectedJavascript(url) && url.find("opener.") == std::string::npos &&
           url.find('"') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> pieces = fuzz::SplitAtNul(data, size);
    const std::string& url = pieces[0];
    for (size_t i = 1; i < pieces.size(); ++i) {
        const std::string& entry = pieces[i];
        const bool expected = ExpectedMatch(url, entry);
        FUZZ_CHECK(MatchesWhiteListEntry(url.c_str(), entry.c_str()) == expected &&
                       MatchesWhiteListEntry(url.c_str(), url.size(), entry.c_str()) == expected,
                   "address %s, entry %s: expected %d", fuzz::Show(url).c_str(),
                   fuzz::Show(entry).c_str(), expected);
    }
    FUZZ_CHECK(!MatchesWhiteListEntry(nullptr, "") && !MatchesWhiteListEntry(url.c_str(), nullptr),
               "a null address or entry matched");

    FUZZ_CHECK(IsJavascriptUrl(url.c_str()) == ExpectedJavascript(url) &&
                   JavascriptUrlSetsOverride(url.c_str()) == ExpectedOverride(url),
               "address %s", fuzz::Show(url).c_str());

    // The same text as a target frame name and as a location, with switches
    // from its first byte.
    const unsigned switches = url.empty() ? 0 : static_cast<unsigned char>(url[0]);
    const LONG popupOverride = switches & 1;
    const LONG pending = (switches >> 1) & 1;
    const bool inFrame = (switches >> 2) & 1;
    FUZZ_CHECK(MayBePopup(popupOverride, pending, url.c_str()) ==
                   (!popupOverride && pending && !url.empty() && url != "_unspecifiedFrame"),
               "target %s, override %d, pending %d", fuzz::Show(url).c_str(),
               static_cast<int>(popupOverride), static_cast<int>(pending));
    FUZZ_CHECK(IsFrameBlankTarget(inFrame, url.c_str()) == (inFrame && url == "_blank"),
               "target %s", fuzz::Show(url).c_str());
    FUZZ_CHECK(ShowsNoPageYet(url.c_str()) == (url.empty() || fuzz::Lowered(url) == "about:blank"),
               "location %s", fuzz::Show(url).c_str());
    return 0;
}
