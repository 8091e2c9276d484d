// The white list match, the "javascript:" rule, the first conditions of the popup
// judgement, the judgement of an announced window and the count of announced
// windows against the same rules written out plainly: an http entry's https
// twin is built whole here, where the rule compares it in two pieces. Input: an
// address, then white list entries, separated by NULs; the first byte of
// the address also gives the switches, the next four NewWindow3's flags, and
// every byte a step on the announced windows.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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
    const bool noPage = url.empty() || fuzz::Lowered(url) == "about:blank";
    FUZZ_CHECK(IsNewWindowNavigation(!inFrame, url.c_str(), url.c_str()) == (!inFrame && noPage && !url.empty()),
               "target and location %s, in a frame %d", fuzz::Show(url).c_str(), inFrame);

    // The rest of the bytes as NewWindow3's flags, and the first as the
    // override and the white list.
    DWORD flags = 0;
    for (size_t i = 1; i < url.size() && i <= 4; ++i) flags = flags << 8 | static_cast<unsigned char>(url[i]);
    const bool whiteListed = (switches >> 3) & 1;
    const bool asked = popupOverride || whiteListed || (flags & (0x8 | 0x80 | 0x100));
    const Announcement expected = asked                           ? Announcement::LetThrough
                                  : !(flags & 0x2) || (flags & 0x1) ? Announcement::Cancel
                                                                    : Announcement::Judge;
    FUZZ_CHECK(JudgeAnnouncement(popupOverride, flags, whiteListed) == expected,
               "flags 0x%x, override %d, white-listed %d", static_cast<unsigned>(flags),
               static_cast<int>(popupOverride), whiteListed);

    // The bytes as steps on the announced windows (A add, W withdraw, F
    // forget, T take; the opener in the low bits), against a plain list of
    // (opener, count) in the order of each opener's first announcement.
    AnnouncedWindows announced;
    std::vector<std::pair<unsigned, long>> plain;
    auto find = [&](unsigned opener) {
        return std::find_if(plain.begin(), plain.end(), [&](const auto& p) { return p.first == opener; });
    };
    for (unsigned char byte : url) {
        const unsigned opener = byte & 3;
        const auto at = find(opener);
        switch ((byte >> 2) & 3) {
        case 0:
            announced.Add(opener);
            if (at == plain.end()) plain.emplace_back(opener, 1); else ++at->second;
            break;
        case 1:
            FUZZ_CHECK(announced.Withdraw(opener) == (at != plain.end()), "withdraw of opener %u", opener);
            if (at != plain.end() && --at->second == 0) plain.erase(at);
            break;
        case 2:
            announced.Forget(opener);
            if (at != plain.end()) plain.erase(at);
            break;
        case 3:
            FUZZ_CHECK(announced.Take() == !plain.empty(), "take with %zu openers waiting", plain.size());
            if (!plain.empty() && --plain.front().second == 0) plain.erase(plain.begin());
            break;
        }
        long count = 0;
        for (const auto& p : plain) count += p.second;
        FUZZ_CHECK(announced.Count() == count, "count %ld, expected %ld", announced.Count(), count);
    }
    return 0;
}
