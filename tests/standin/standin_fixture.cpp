#include "standin_fixture.h"

#include "browser/live_references.h"
#include "browser/text_conversion.h"

namespace standin::test {

std::unique_ptr<korvane::test::TempDirectory> StandinTest::folder_;

namespace {

const char kIndex[] = R"html(<html><head><title>News</title></head><body>
<a id="more" href="more.html">More news</a>
<a id="ad" href="http://ads.example/pop.html" target="_blank">Ad</a>
<a id="named" href="/named.html" target="newsWindow">Elsewhere</a>
<a id="script" href="javascript:void(0)">Script</a>
<map name="m"><area id="spot" href="area.html" target="_blank"></map>
<form id="search" action="search.html" target="results"></form>
</body></html>)html";

const char kFrames[] = R"html(<html><frameset cols="30%,70%">
<frame name="left" src="left.html"><frame name="main" src="more.html">
</frameset></html>)html";

const char kLeft[] = R"html(<html><body>
<a id="tomain" href="other.html" target="main">Other in main</a>
<a id="top" href="index.html" target="_top">Home</a>
<a id="blank" href="http://ads.example/frame-pop.html" target="_blank">Pop</a>
<a id="self" href="other.html">Self</a>
</body></html>)html";

const char kNested[] = R"html(<html><frameset rows="50%,50%">
<frame name="upper" src="frames.html"><frame name="lower" src="other.html">
</frameset></html>)html";

}  // namespace

void WritePage(const std::string& site, const std::string& hostAndPath, const std::string& html) {
    ASSERT_TRUE(korvane::test::WriteSitePage(site, hostAndPath, html)) << hostAndPath;
}

HRESULT CallRecorderExport(const char* name) {
    HMODULE recorder = GetModuleHandleA("korvane_recorder.dll");
    auto* function = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(recorder, name)));
    return function ? function() : E_FAIL;
}

std::vector<RecorderRecord> Records() {
    std::vector<RecorderRecord> all;
    const int count = RecorderCount();
    for (int i = 0; i < count; ++i) {
        RecorderRecord record;
        if (RecorderGet(i, &record)) all.push_back(record);
    }
    return all;
}

std::vector<RecorderRecord> Records(int kind) {
    std::vector<RecorderRecord> some;
    for (const RecorderRecord& record : Records())
        if (record.kind == kind) some.push_back(record);
    return some;
}

std::vector<RecorderRecord> Invokes() { return Records(RECORD_INVOKE); }

std::vector<DISPID> InvokedDispids() {
    std::vector<DISPID> ids;
    for (const RecorderRecord& record : Invokes()) ids.push_back(record.dispid);
    return ids;
}

std::string Text(const RecorderRecord& record, int arg) {
    return Narrow(record.text[arg], wcslen(record.text[arg]));
}

void StandinTest::SetUpTestSuite() {
    folder_.reset(new korvane::test::TempDirectory());
    const std::string& site = folder_->path();
    WritePage(site, "news.example/index.html", kIndex);
    WritePage(site, "news.example/more.html", "<html><body>More</body></html>");
    WritePage(site, "news.example/other.html", "<html><body>Other</body></html>");
    WritePage(site, "news.example/named.html", "<html><body>Named</body></html>");
    WritePage(site, "news.example/frames.html", kFrames);
    WritePage(site, "news.example/left.html", kLeft);
    WritePage(site, "news.example/nested.html", kNested);
    WritePage(site, "ads.example/pop.html", "<html><body>Buy</body></html>");
    WritePage(site, "news.example/loop.html",
              "<frameset><frame name=\"me\" src=\"loop.html\"><frame name=\"other\" src=\"loop2.html\"></frameset>");
    WritePage(site, "news.example/loop2.html", "<frameset><frame name=\"back\" src=\"loop.html\"></frameset>");
    WritePage(site, "news.example/based.html",
              "<html><head><base target=\"_self\"></head><body><a id=\"plain\" href=\"more.html\">M</a>"
              "</body></html>");
    ASSERT_EQ(S_OK, CallRecorderExport("DllRegisterServer"));
}

void StandinTest::TearDownTestSuite() {
    CallRecorderExport("DllUnregisterServer");
    folder_.reset();
}

const std::string& StandinTest::Site() { return folder_->path(); }

void StandinTest::SetUp() {
    overReleasesBefore_ = CurrentLiveReferences().overReleases;
    Configure(0);
    RecorderReset();
}

void StandinTest::TearDown() {
    // Whatever the test did, every session is gone now: nothing of the
    // stand-in may still be referenced, and every helper must be freed.
    const LiveReferences left = CurrentLiveReferences();
    EXPECT_EQ(0, left.Total()) << "browsers " << left.browsers << ", connection points "
                               << left.connectionPoints << ", enumerators " << left.enumerators
                               << ", sites " << left.sites;
    EXPECT_EQ(overReleasesBefore_, left.overReleases);
    EXPECT_EQ(0, RecorderLiveObjects());
}

void StandinTest::Configure(unsigned mode, const wchar_t* pattern) {
    RecorderConfig config = {};
    config.mode = mode;
    wcsncpy(config.cancelPattern, pattern, 127);
    RecorderConfigure(&config);
}

SessionOptions StandinTest::Options() const {
    SessionOptions options;
    options.siteFolder = Site();
    options.onlyHelpers.push_back(CLSID_RecordingHelper);
    options.stepTimeoutMs = 20000;
    return options;
}

std::unique_ptr<Session> StandinTest::NewSession(SessionOptions options) {
    return std::unique_ptr<Session>(new Session(options));
}

}  // namespace standin::test
