// What the page scans did, read from the documents' logs of property
// writes: which banner ads they hid (an image's or a plug-in's size cleared,
// a box made invisible) and which targets they gave a name of the
// blocker's own. A document may be scanned many times; each element counts
// once.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "browser/session.h"

namespace demo {

struct DocumentChanges {
    std::string context;  // "w1", "w1/main"
    std::string url;
    std::vector<std::string> adsHidden;         // "img#ad-468x60: width = 0, height = 0, alt = (null)"
    std::vector<std::string> targetsRewritten;  // "a#sponsor: z9z0_blank"
};

class ScanWatcher {
public:
    // Starts watching the documents that completed in the timeline entries
    // given (those of the step just played).
    void Watch(const standin::Session& session, const std::vector<standin::TimelineEntry>& entries);
    // What every watched document gained since the last call.
    std::vector<DocumentChanges> Collect();

    long TotalAdsHidden() const { return totalAdsHidden_; }
    long TotalTargetsRewritten() const { return totalTargetsRewritten_; }

private:
    struct Watched {
        std::shared_ptr<standin::Document> document;
        std::string context;
        std::string url;
        size_t writesSeen = 0;
        std::set<std::string> hidden;
        std::set<std::string> rewritten;
    };
    std::vector<Watched> watched_;
    long totalAdsHidden_ = 0;
    long totalTargetsRewritten_ = 0;
};

}  // namespace demo
