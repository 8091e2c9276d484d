// The fixture of the tests that browse through the stand-in into the
// registered DLL: one installed copy of Korvane.dll and one site folder for
// the whole test program, sessions that load only Korvane's helper, and the
// check after each test that nothing of the browser is still held.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "browser/session.h"
#include "support/installed_korvane.h"

namespace korvane::test {

class KorvaneSessionTest : public ::testing::Test {
protected:
    // For the derived suite's SetUpTestSuite and TearDownTestSuite.
    static void InstallKorvane(const InstallOptions& options = InstallOptions());
    static void RemoveKorvane();

    // Popup blocking and the helper on; flash, sound and banner ads off.
    void SetUp() override;
    // Ends the session, puts those switches back and checks that the
    // helpers hold nothing of the browser's.
    void TearDown() override;

    standin::Session& NewSession(bool connectionPoints = true,
                                 standin::SiteKind site = standin::SiteKind::Browser);
    static SharedState& Shared() { return korvane_->Shared(); }
    // Once the windows are gone, nothing of the browser's is referenced, no
    // more was given back than taken, and no document string is left.
    static void ExpectNothingHeld(const char* when);

    static std::unique_ptr<InstalledKorvane> korvane_;
    static std::unique_ptr<TempDirectory> site_;
    std::unique_ptr<standin::Session> session_;
};

}  // namespace korvane::test
