// Rules that name the windows links, image-map areas and forms open, so the
// popup filter can tell a window the user asked for from one a page opened
// on its own. Plain narrow strings in the ANSI code page; no COM here.
#pragma once

#include <cstdint>

#include "base/narrow_string.h"

namespace korvane {

enum class TargetDecision {
    Keep,      // leave the target as the page wrote it
    Rewrite,   // replace it by MakeRewrittenTarget
    StopScan,  // the document was scanned before: end the whole scan now
};

// Every name the scan gives out starts with this.
constexpr char RewrittenTargetPrefix[] = "z9z";
constexpr int kRewrittenTargetPrefixLength = 3;

// Names of the browser's own that never open a new window.
constexpr const char* ReservedTargetNames[] = {"_top", "_parent", "_self", "_search", "_main"};

// The counter numbers the rewritten "_blank" targets 0 to 20 and then starts
// again; it belongs to the process and is shared by all its windows.
constexpr int kBlankTargetCounterLast = 20;

// target is the element's (non-empty) target name; isTopLevel tells whether
// the document is the window's top document rather than a frame's. All
// comparisons are exact and case-sensitive: "_BLANK" is not "_blank".
TargetDecision ClassifyTarget(const char* target, bool isTopLevel);

// "z9z" + target, with the next number of the counter between the two when
// target is "_blank" (z9z0_blank, z9z1_blank, ...). Safe to call from any
// thread: each caller gets a number of its own. Throws std::bad_alloc.
AnsiString MakeRewrittenTarget(const char* target);

// The number the next rewritten "_blank" target will carry.
int BlankTargetCounter() noexcept;

// Whether a link, area or form whose target (its own, else its document's
// base target) is target opens a window of its own: any name but none and
// the reserved ones. A name may be one of the page's own frames; the page
// links the address all the same.
bool OpensNewWindow(const char* target);

// What is kept of the address an element points to, and compared with a
// new window's address: a link's or an area's whole address, a form's up to
// its query or fragment (a form sent by GET replaces its query). The two
// kinds never give the same key for the same text. An element without an
// address points to nothing: kNoAddress.
std::uint64_t LinkAddressKey(const char* address);
std::uint64_t FormAddressKey(const char* address);
constexpr std::uint64_t kNoAddress = 0;

}  // namespace korvane
