// The white list match, the "javascript:" rule, the judgement of a new
// window and the announced windows against the same rules written out
// plainly: an http entry's https twin is built whole here, where the rule
// compares it in two pieces, and a site entry is recognised by a pattern.
// Input: an address, then white list entries, separated by NULs; the first
// byte of the address also gives the facts of a new window, the next four
// NewWindow3's flags, the sixth the event, and every byte a step on the
// announced windows.
#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "helper/popup_filter.h"

using namespace korvane;

namespace {

bool BeginsWith(const std::string& url, const std::string& text) {
    return url.size() >= text.size() && fuzz::Lowered(url.substr(0, text.size())) == fuzz::Lowered(text);
}

// A site entry is "scheme://host" or "scheme://host/"; after it, an address
// goes on with nothing, a path, a query, a fragment, or a port and one of
// those.
bool PlainMatch(const std::string& url, const std::string& entry) {
    static const std::regex site("[^:]+://[^/?#]+/?");
    static const std::regex hostEnds("^(:[0-9]*)?([/?#]|$)");
    if (!std::regex_match(entry, site)) return BeginsWith(url, entry);
    const std::string host = entry.back() == '/' ? entry.substr(0, entry.size() - 1) : entry;
    return BeginsWith(url, host) && std::regex_search(url.substr(host.size()), hostEnds);
}

bool ExpectedMatch(const std::string& url, const std::string& entry) {
    if (PlainMatch(url, entry)) return true;
    // Only an http entry has a twin: any other scheme's would begin every
    // https address.
    return fuzz::Lowered(entry.substr(0, 5)) == "http:" && PlainMatch(url, "https" + entry.substr(4));
}

bool ExpectedJavascript(const std::string& url) {
    return url.size() >= 11 && fuzz::Lowered(url.substr(0, 11)) == "javascript:";
}

bool ExpectedOverride(const std::string& url) {
    return ExpectedJavascript(url) && url.find("opener.") == std::string::npos &&
           url.find('"') == std::string::npos;
}

Verdict ExpectedVerdict(const NewWindowFacts& w, const std::string& url) {
    if (w.event == NewWindowEvent::NewWindow3) {
        if (!w.hasFlags) return Verdict::LeaveToFirstNavigation;
        if (w.whiteListed || (w.flags & 0x8) || (w.flags & 0x80) || (w.flags & 0x100)) return Verdict::LetThrough;
        const bool started = (w.flags & 0x2) && !(w.flags & 0x1);
        if (!started) return Verdict::Cancel;
        return w.popupOverride || (w.pageOpensAddress && !url.empty()) ? Verdict::LetThrough
                                                                      : Verdict::LeaveToFirstNavigation;
    }
    const bool judged = w.announced && !w.inFrame && !w.showsPage;
    const bool namesFrame = !url.empty() && url != "_unspecifiedFrame";
    const bool popup = judged && !w.popupOverride && !w.whiteListed && namesFrame && !w.knownNameToAddress;
    return popup ? Verdict::Block : Verdict::LetThrough;
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
    const bool noPage = url.empty() || fuzz::Lowered(url) == "about:blank";
    FUZZ_CHECK(ShowsNoPageYet(url.c_str()) == noPage, "location %s", fuzz::Show(url).c_str());

    // A new window whose address and target are the text, with facts from
    // its first byte, NewWindow3's flags from the next four and the event
    // from the sixth.
    const unsigned facts = url.empty() ? 0 : static_cast<unsigned char>(url[0]);
    NewWindowFacts window;
    window.event = url.size() > 5 && (url[5] & 1) ? NewWindowEvent::NewWindow3 : NewWindowEvent::FirstNavigation;
    window.popupOverride = facts & 1;
    bool* const bits[] = {&window.whiteListed, &window.inFrame, &window.showsPage, &window.announced,
                          &window.knownNameToAddress, &window.pageOpensAddress, &window.hasFlags};
    for (int i = 0; i < 7; ++i) *bits[i] = facts >> (i + 1) & 1;
    for (size_t i = 1; i < url.size() && i <= 4; ++i)
        window.flags = window.flags << 8 | static_cast<unsigned char>(url[i]);
    window.url = url.c_str();
    window.target = url.c_str();
    FUZZ_CHECK(JudgeNewWindow(window) == ExpectedVerdict(window, url), "facts 0x%x, flags 0x%x, event %d",
               facts, static_cast<unsigned>(window.flags), static_cast<int>(window.event));

    // The bytes as steps on the announced windows (bits 2 to 4: add without
    // an address, add with one, set the address, withdraw, forget, take;
    // the opener in the low bits, the address a letter from the high ones),
    // against a plain list in the order of announcement.
    AnnouncedWindows announced;
    std::vector<std::pair<unsigned, std::string>> plain;  // opener, address ("" none)
    for (unsigned char byte : url) {
        const unsigned opener = byte & 3;
        const std::string address(1, static_cast<char>('a' + (byte >> 5)));
        auto last = std::find_if(plain.rbegin(), plain.rend(), [&](const auto& p) { return p.first == opener; });
        switch ((byte >> 2) & 7) {
        case 0:
        case 1: {
            const std::string said = ((byte >> 2) & 7) ? address : std::string();
            announced.Add(opener, said.c_str());
            if (plain.size() >= AnnouncedWindows::kMostWaiting) plain.erase(plain.begin());
            plain.emplace_back(opener, said);
            break;
        }
        case 2:
            announced.SetAddress(opener, address.c_str());
            if (last != plain.rend()) last->second = address;
            break;
        case 3:
            FUZZ_CHECK(announced.Withdraw(opener) == (last != plain.rend()), "withdraw of opener %u", opener);
            if (last != plain.rend()) plain.erase(std::next(last).base());
            break;
        case 4:
            announced.Forget(opener);
            plain.erase(std::remove_if(plain.begin(), plain.end(), [&](const auto& p) { return p.first == opener; }),
                        plain.end());
            break;
        default: {
            auto taken = std::find_if(plain.begin(), plain.end(), [&](const auto& p) { return p.second == address; });
            if (taken == plain.end())
                taken = std::find_if(plain.begin(), plain.end(), [](const auto& p) { return p.second.empty(); });
            FUZZ_CHECK(announced.Take(address.c_str()) == (taken != plain.end()), "take of %s with %zu waiting",
                       address.c_str(), plain.size());
            if (taken != plain.end()) plain.erase(taken);
            break;
        }
        }
        FUZZ_CHECK(announced.Count() == static_cast<long>(plain.size()), "count %ld, expected %zu",
                   announced.Count(), plain.size());
    }
    return 0;
}
