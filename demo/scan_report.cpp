#include "demo/scan_report.h"

#include <map>

#include "dom/dom.h"

namespace demo {
namespace {

std::string ElementName(const standin::PropertyWrite& write) {
    if (!write.id.empty()) return write.tag + "#" + write.id;
    return write.tag + "[" + std::to_string(write.index) + "]";
}

// The scan writes a size or a visibility only to hide an advertisement.
bool Hides(const standin::PropertyWrite& write) {
    return write.property == "width" || write.property == "height" || write.property == "visibility";
}

// Targets it names itself begin with z9z; others it writes (the default
// target of a link without one) are no rewrite.
bool Rewrites(const standin::PropertyWrite& write) {
    return write.property == "target" && write.value.compare(0, 3, "z9z") == 0;
}

}  // namespace

void ScanWatcher::Watch(const standin::Session& session, const std::vector<standin::TimelineEntry>& entries) {
    for (const standin::TimelineEntry& entry : entries) {
        if (entry.kind != standin::TimelineKind::DocumentLoaded) continue;
        std::shared_ptr<standin::Document> document = session.DocumentOf(entry.context);
        if (!document) continue;
        bool known = false;
        for (const Watched& watched : watched_)
            if (watched.document == document) known = true;
        if (known) continue;
        Watched watched;
        watched.document = document;
        watched.context = entry.context;
        watched.url = document->Url();
        watched_.push_back(watched);
    }
}

std::vector<DocumentChanges> ScanWatcher::Collect() {
    std::vector<DocumentChanges> report;
    for (Watched& watched : watched_) {
        const std::vector<standin::PropertyWrite> writes = watched.document->Writes();
        DocumentChanges changes;
        changes.context = watched.context;
        changes.url = watched.url;
        // Everything an element newly hidden had written to it, in order.
        std::map<std::string, std::string> hiddenNow;
        std::vector<std::string> hiddenOrder;
        for (size_t i = watched.writesSeen; i < writes.size(); ++i) {
            const standin::PropertyWrite& write = writes[i];
            const std::string element = ElementName(write);
            if (Rewrites(write) && watched.rewritten.insert(element).second)
                changes.targetsRewritten.push_back(element + ": " + write.value);
            if (Hides(write) && watched.hidden.insert(element).second) hiddenOrder.push_back(element);
        }
        for (size_t i = watched.writesSeen; i < writes.size(); ++i) {
            const standin::PropertyWrite& write = writes[i];
            const std::string element = ElementName(write);
            if (write.property != "width" && write.property != "height" && write.property != "alt" &&
                write.property != "visibility")
                continue;
            std::string& text = hiddenNow[element];
            const std::string part = write.property + " = " + write.value;
            if (text.find(part) == std::string::npos) text += (text.empty() ? "" : ", ") + part;
        }
        for (const std::string& element : hiddenOrder) changes.adsHidden.push_back(element + ": " + hiddenNow[element]);
        watched.writesSeen = writes.size();
        totalAdsHidden_ += static_cast<long>(changes.adsHidden.size());
        totalTargetsRewritten_ += static_cast<long>(changes.targetsRewritten.size());
        if (!changes.adsHidden.empty() || !changes.targetsRewritten.empty()) report.push_back(changes);
    }
    return report;
}

}  // namespace demo
