// Shared set-up of the stand-in's tests: a site folder with pages, the
// recording helper registered as a browser helper object, and readers for
// what it recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "browser/session.h"
#include "recorder/recorder_api.h"
#include "support/test_support.h"

namespace standin::test {

// Writes <site>\<host>\<path> (folders made as needed).
void WritePage(const std::string& site, const std::string& hostAndPath, const std::string& html);

// DllRegisterServer / DllUnregisterServer of the recording helper.
HRESULT CallRecorderExport(const char* name);

std::vector<RecorderRecord> Records();
std::vector<RecorderRecord> Records(int kind);
std::vector<RecorderRecord> Invokes();  // RECORD_INVOKE only
std::vector<DISPID> InvokedDispids();
std::string Text(const RecorderRecord& record, int arg);

// Sessions with the recording helper as their only helper object, over a
// site with a few pages (see the .cpp for them). Checks after every test
// that no reference to the stand-in's objects and no helper instance is
// left.
class StandinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    void Configure(unsigned mode, const wchar_t* pattern = L"");
    SessionOptions Options() const;
    std::unique_ptr<Session> NewSession(SessionOptions options);
    std::unique_ptr<Session> NewSession() { return NewSession(Options()); }
    static const std::string& Site();

    static std::unique_ptr<korvane::test::TempDirectory> folder_;
    long overReleasesBefore_ = 0;
};

}  // namespace standin::test
