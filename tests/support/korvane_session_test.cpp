#include "support/korvane_session_test.h"

#include "browser/live_references.h"
#include "korvane_idl.h"

namespace korvane::test {

std::unique_ptr<InstalledKorvane> KorvaneSessionTest::korvane_;
std::unique_ptr<TempDirectory> KorvaneSessionTest::site_;

void KorvaneSessionTest::InstallKorvane(const InstallOptions& options) {
    korvane_.reset(new InstalledKorvane(options));
    site_.reset(new TempDirectory());
}

void KorvaneSessionTest::RemoveKorvane() {
    korvane_.reset();
    site_.reset();
}

void KorvaneSessionTest::SetUp() {
    ASSERT_TRUE(korvane_ && korvane_->ok()) << (korvane_ ? korvane_->Failure() : "not installed");
    SharedState& shared = korvane_->Shared();
    shared.helperActive = 1;
    shared.popupsAllowed = 0;
    shared.flashOn = 0;
    shared.soundOn = 0;
    shared.blockBannerAds = 0;
}

void KorvaneSessionTest::TearDown() {
    session_.reset();
    if (!korvane_ || !korvane_->ok()) return;
    SharedState& shared = korvane_->Shared();
    shared.helperActive = 1;
    shared.popupsAllowed = 0;
    shared.blockBannerAds = 0;
    ExpectNothingHeld("after the session");
    // A leak seen above is not blamed on the tests that follow.
    standin::ReleaseLeakedSinks();
}

standin::Session& KorvaneSessionTest::NewSession(bool connectionPoints, standin::SiteKind site) {
    standin::SessionOptions options;
    options.siteFolder = site_->path();
    options.onlyHelpers.push_back(CLSID_ViewSource);
    options.connectionPoints = connectionPoints;
    options.site = site;
    options.stepTimeoutMs = 20000;
    session_.reset(new standin::Session(options));
    return *session_;
}

void KorvaneSessionTest::ExpectNothingHeld(const char* when) {
    const standin::LiveReferences left = standin::CurrentLiveReferences();
    EXPECT_EQ(0, left.Total()) << when << ": browsers " << left.browsers << ", connection points "
                               << left.connectionPoints << ", enumerators " << left.enumerators
                               << ", sites " << left.sites << ", documents "
                               << left.documentReferences;
    EXPECT_EQ(0, left.overReleases) << when;
    EXPECT_EQ(0, left.objects) << when << ": stand-in objects still alive";
    // Negative when the stand-in cannot count them on this system.
    if (left.documentBstrs >= 0) {
        EXPECT_EQ(0, left.documentBstrs) << when << ": document strings not freed";
    }
}

}  // namespace korvane::test
