// The helper object's attachment to a browser, against stand-in browsers
// that record every call and count their references.
#include <gtest/gtest.h>

#include <exdispid.h>
#include <olectl.h>

#include "helper/view_source.h"
#include "module/com_server.h"
#include "state/shared_state.h"
#include "support/fake_browser.h"

using namespace korvane;
using korvane::test::FakeBrowser;
using korvane::test::PlainSite;

namespace {

constexpr DWORD kFirstCookie = 0x5A00;

class ViewSourceSite : public ::testing::Test {
protected:
    void SetUp() override {
        savedHelperActive_ = sharedState->helperActive;
        sharedState->helperActive = 1;
        locksBefore_ = ModuleLockCount();
        ASSERT_EQ(S_OK, korvane::ViewSource::Create(nullptr, IID_IObjectWithSite,
                                                    reinterpret_cast<void**>(&helper)));
        ASSERT_NE(nullptr, helper);
    }
    void TearDown() override { sharedState->helperActive = savedHelperActive_; }

    korvane::ViewSource& self() { return *static_cast<korvane::ViewSource*>(helper); }
    IDispatch* dispatchFace() {
        IDispatch* dispatch = nullptr;
        helper->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        if (dispatch) dispatch->Release();
        return dispatch;
    }
    // The helper's last reference goes, and everything it held with it.
    void ExpectFinalRelease() {
        EXPECT_EQ(0u, helper->Release());
        helper = nullptr;
        EXPECT_EQ(locksBefore_, ModuleLockCount());
    }

    IObjectWithSite* helper = nullptr;
    LONG locksBefore_ = 0;

private:
    LONG savedHelperActive_ = 0;
};

}  // namespace

TEST_F(ViewSourceSite, LiveObjectHoldsOneModuleLock) {
    EXPECT_EQ(locksBefore_ + 1, ModuleLockCount());
    ExpectFinalRelease();
}

TEST_F(ViewSourceSite, SwitchedOffHelperIgnoresItsSite) {
    FakeBrowser browser;
    sharedState->helperActive = 0;
    EXPECT_EQ(S_OK, helper->SetSite(browser.browser()));
    EXPECT_EQ(1, browser.refs);
    EXPECT_EQ(0, browser.findCalls);
    EXPECT_EQ(0, browser.point.adviseCalls);
    ExpectFinalRelease();
}

TEST_F(ViewSourceSite, SitingInABrowserConnectsTheDispatchFaceToItsEvents) {
    FakeBrowser browser;
    EXPECT_EQ(S_OK, helper->SetSite(browser.browser()));
    EXPECT_EQ(1, browser.point.adviseCalls);
    ASSERT_EQ(1u, browser.point.sinks.size());
    EXPECT_EQ(dispatchFace(), browser.point.sinks.begin()->second.Get());
    EXPECT_EQ(kFirstCookie, browser.point.sinks.begin()->first);
    // The helper keeps the browser and its container; the connection point
    // itself is not kept.
    EXPECT_EQ(3, browser.refs);
    EXPECT_EQ(1, browser.point.refs);

    // While connected, the connection point keeps the object alive.
    EXPECT_EQ(S_OK, self().DisconnectEvents());
    ASSERT_EQ(1u, browser.point.unadvisedCookies.size());
    EXPECT_EQ(kFirstCookie, browser.point.unadvisedCookies[0]);
    EXPECT_TRUE(browser.point.sinks.empty());
    ExpectFinalRelease();
    EXPECT_EQ(1, browser.refs);
    EXPECT_EQ(1, browser.point.refs);
}

TEST_F(ViewSourceSite, ReleaseDoesNotDisconnectAndTheConnectionKeepsTheObject) {
    FakeBrowser browser;
    ASSERT_EQ(S_OK, helper->SetSite(browser.browser()));
    EXPECT_EQ(1u, helper->Release());
    EXPECT_TRUE(browser.point.unadvisedCookies.empty());
    // Dropping the connection frees the object and what it held.
    EXPECT_EQ(locksBefore_ + 1, ModuleLockCount());
    browser.point.sinks.clear();
    helper = nullptr;
    EXPECT_EQ(locksBefore_, ModuleLockCount());
    EXPECT_EQ(1, browser.refs);
}

TEST_F(ViewSourceSite, SitingAgainOrUnsitingDisconnectsAndReleasesWhateverTheSwitchesSay) {
    for (const LONG active : {1, 0}) {
        SCOPED_TRACE(active);
        FakeBrowser browser;
        sharedState->helperActive = 1;
        ASSERT_EQ(S_OK, helper->SetSite(browser.browser()));
        ASSERT_EQ(S_OK, helper->SetSite(browser.browser()));  // connected once, not twice
        EXPECT_EQ(1u, browser.point.sinks.size());
        EXPECT_EQ(3, browser.refs);
        sharedState->helperActive = active;
        EXPECT_EQ(active ? E_INVALIDARG : S_OK, helper->SetSite(nullptr));
        EXPECT_TRUE(browser.point.sinks.empty());
        EXPECT_EQ(1, browser.refs);
        helper->SetSite(nullptr);  // no cookie is unadvised twice
        EXPECT_EQ(2u, browser.point.unadvisedCookies.size());
    }
    ExpectFinalRelease();
}

TEST_F(ViewSourceSite, SiteThatIsNoBrowserIsRefused) {
    PlainSite site;
    EXPECT_EQ(E_INVALIDARG, helper->SetSite(&site));
    ASSERT_EQ(1u, site.queried.size());
    EXPECT_TRUE(IsEqualIID(IID_IWebBrowser2, site.queried[0]));
    EXPECT_EQ(1, site.refs);
    ExpectFinalRelease();
}

TEST_F(ViewSourceSite, BrowserWithoutConnectionPointsIsRefusedWithEPointer) {
    FakeBrowser browser(false);
    EXPECT_EQ(E_POINTER, helper->SetSite(browser.browser()));
    EXPECT_EQ(0, browser.findCalls);
    EXPECT_EQ(2, browser.refs);  // kept as the site's browser
    ExpectFinalRelease();
    EXPECT_EQ(1, browser.refs);
}

TEST_F(ViewSourceSite, ConnectionPointFailuresArePassedBackUnchanged) {
    FakeBrowser noPoint;
    noPoint.findResult = CONNECT_E_NOCONNECTION;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, helper->SetSite(noPoint.browser()));
    EXPECT_EQ(1, noPoint.findCalls);  // no retry
    EXPECT_EQ(0, noPoint.point.adviseCalls);

    FakeBrowser refusing;
    refusing.point.adviseResult = CONNECT_E_ADVISELIMIT;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, helper->SetSite(refusing.browser()));
    EXPECT_EQ(1, refusing.point.adviseCalls);
    EXPECT_TRUE(refusing.point.sinks.empty());
    EXPECT_EQ(1, noPoint.refs);  // let go when the second browser came
    ExpectFinalRelease();
    EXPECT_EQ(1, refusing.refs);
    EXPECT_EQ(1, refusing.point.refs);
}

TEST_F(ViewSourceSite, GetSiteNeverAnswersASite) {
    FakeBrowser browser;
    void* site = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(E_FAIL, helper->GetSite(IID_IUnknown, &site));
    EXPECT_EQ(nullptr, site);
    ASSERT_EQ(S_OK, helper->SetSite(browser.browser()));
    site = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(E_FAIL, helper->GetSite(IID_IWebBrowser2, &site));
    EXPECT_EQ(nullptr, site);
    EXPECT_EQ(E_POINTER, helper->GetSite(IID_IUnknown, nullptr));
    self().DetachEvents();
    ExpectFinalRelease();
}

TEST_F(ViewSourceSite, DisconnectingTwiceRepeatsTheCookieAndReportsTheAnswer) {
    FakeBrowser browser;
    ASSERT_EQ(S_OK, helper->SetSite(browser.browser()));
    EXPECT_EQ(S_OK, self().DisconnectEvents());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, self().DisconnectEvents());
    ASSERT_EQ(2u, browser.point.unadvisedCookies.size());
    EXPECT_EQ(kFirstCookie, browser.point.unadvisedCookies[0]);
    EXPECT_EQ(kFirstCookie, browser.point.unadvisedCookies[1]);
    // DetachEvents unadvises only a connection it has: none is left.
    EXPECT_EQ(S_OK, self().DetachEvents());
    EXPECT_EQ(2u, browser.point.unadvisedCookies.size());
    EXPECT_EQ(1, browser.point.refs);
    ExpectFinalRelease();
    EXPECT_EQ(1, browser.refs);
}

// A window closing: OnQuit lets go of everything at once, the connection
// unadvised once whatever follows, the browser released.
TEST_F(ViewSourceSite, OnQuitUnadvisesOnceAndReleasesTheBrowser) {
    FakeBrowser browser;
    ASSERT_EQ(S_OK, helper->SetSite(browser.browser()));
    DISPPARAMS none{};
    EXPECT_EQ(S_OK, dispatchFace()->Invoke(DISPID_ONQUIT, IID_NULL, 0, DISPATCH_METHOD, &none,
                                           nullptr, nullptr, nullptr));
    EXPECT_EQ(1, browser.refs);
    EXPECT_EQ(S_OK, self().DetachEvents());
    helper->SetSite(nullptr);
    EXPECT_EQ(1u, browser.point.unadvisedCookies.size());
    ExpectFinalRelease();
}

TEST_F(ViewSourceSite, FailedAdviseKeepsTheCookieOfTheLiveConnection) {
    FakeBrowser browser;
    ASSERT_EQ(S_OK, helper->SetSite(browser.browser()));
    browser.point.adviseResult = CONNECT_E_ADVISELIMIT;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, self().ConnectEvents());
    EXPECT_EQ(S_OK, self().DisconnectEvents());
    ASSERT_EQ(1u, browser.point.unadvisedCookies.size());
    EXPECT_EQ(kFirstCookie, browser.point.unadvisedCookies[0]);
    ExpectFinalRelease();
}

TEST_F(ViewSourceSite, UnsitedObjectHasNothingToConnect) {
    EXPECT_EQ(E_POINTER, self().ConnectEvents());
    EXPECT_EQ(E_POINTER, self().DisconnectEvents());
    EXPECT_EQ(S_OK, self().DetachEvents());
    ExpectFinalRelease();
}

// The primary face's table continues after GetSite with the class's own
// operations; code built against that layout calls them by slot.
TEST_F(ViewSourceSite, PrimaryTableHoldsTheOwnOperationsAfterGetSite) {
    using Operation = HRESULT(STDMETHODCALLTYPE*)(IObjectWithSite*);
    void** table = *reinterpret_cast<void***>(helper);
    auto call = [&](int slot) { return reinterpret_cast<Operation>(table[slot])(helper); };

    FakeBrowser browser;
    ASSERT_EQ(S_OK, helper->SetSite(browser.browser()));
    EXPECT_EQ(S_OK, call(7));                       // DisconnectEvents
    EXPECT_EQ(1u, browser.point.unadvisedCookies.size());
    EXPECT_EQ(S_OK, call(6));                       // ConnectEvents
    EXPECT_EQ(2, browser.point.adviseCalls);
    EXPECT_EQ(S_OK, call(5));                       // DetachEvents
    EXPECT_EQ(kFirstCookie + 1, browser.point.unadvisedCookies.back());
    EXPECT_TRUE(browser.point.sinks.empty());
    EXPECT_EQ(S_OK, call(8));                       // ScanPage
    ExpectFinalRelease();
    EXPECT_EQ(1, browser.refs);
}
