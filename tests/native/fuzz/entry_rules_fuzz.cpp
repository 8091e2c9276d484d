// The Add Link, Add Site and typed-site transforms against the same rules
// written out with std::string. Input: addresses separated by NULs.
#include <cstring>
#include <string>

#include "dialogs/whitelist_entry_rules.h"
#include "fuzz_support.h"

using namespace korvane;

namespace {

std::string ExpectedLink(const std::string& address) { return address.substr(0, address.find('?')); }

std::string ExpectedSite(const std::string& address) {
    const std::string link = ExpectedLink(address);
    size_t slash = std::string::npos;
    for (int i = 0; i < 3; ++i) {
        slash = link.find('/', slash == std::string::npos ? 0 : slash + 1);
        if (slash == std::string::npos) return link;
    }
    return link.substr(0, slash);
}

std::string ExpectedTyped(const std::string& text) {
    return text.find(':') != std::string::npos ? text : "http://" + text;
}

void Check(const char* rule, const AnsiString& actual, const std::string& expected,
           const std::string& input) {
    FUZZ_CHECK(std::string(actual.c_str(), actual.length()) == expected &&
                   actual.length() == std::strlen(actual.c_str()),
               "%s of %s gave %s, expected %s", rule, fuzz::Show(input).c_str(),
               fuzz::Show(actual.c_str()).c_str(), fuzz::Show(expected).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const std::string& address : fuzz::SplitAtNul(data, size)) {
        Check("Add Link", LinkEntryFromAddress(address.c_str()), ExpectedLink(address), address);
        Check("Add Site", SiteEntryFromAddress(address.c_str()), ExpectedSite(address), address);
        Check("typed site", EntryFromTypedSite(address.c_str()), ExpectedTyped(address), address);
    }
    Check("Add Link", LinkEntryFromAddress(nullptr), "", "(null)");
    Check("Add Site", SiteEntryFromAddress(nullptr), "", "(null)");
    Check("typed site", EntryFromTypedSite(nullptr), "http://", "(null)");
    return 0;
}
