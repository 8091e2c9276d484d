// korvane_browser.exe as a user runs it: a session file in, the timeline
// out, and an exit code that says whether every expectation held.
#include <gtest/gtest.h>

#include "standin_fixture.h"

namespace standin::test {
namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;
};

// Runs the program with its output going to a file.
Outcome RunBrowser(const std::string& arguments, const std::string& outputFile) {
    Outcome outcome;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return outcome;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info{};
    std::string line = "\"" + korvane::test::ProgramDirectory() + "korvane_browser.exe\" " + arguments;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    const BOOL started =
        CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(output);
    if (!started) return outcome;
    CloseHandle(info.hThread);
    if (WaitForSingleObject(info.hProcess, 120000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        outcome.exitCode = static_cast<int>(code);
    } else {
        TerminateProcess(info.hProcess, 255);
    }
    CloseHandle(info.hProcess);
    outcome.output = korvane::test::ReadFileBytes(outputFile);
    return outcome;
}

using ProgramTest = StandinTest;

TEST_F(ProgramTest, PlaysASessionAndExitsByItsExpectations) {
    const std::string sessionFile = Site() + "popups.txt";
    ASSERT_TRUE(korvane::test::WriteFileBytes(sessionFile,
                                              "# a popup blocked by the helper\n"
                                              "option helpers " RECORDER_CLSID_TEXT "\n"
                                              "open http://news.example/index.html\n"
                                              "click w1 #ad\n"
                                              "expect blocked http://ads.example/pop.html\n"
                                              "expect windows 1\n"
                                              "expect cancelled http://ads.example/pop.html\n"
                                              "click w1 #more\n"
                                              "expect url w1 http://news.example/more.html\n"
                                              "expect events NewWindow2 1\n"));
    SetEnvironmentVariableA("KORVANE_RECORDER_MODE", "0x38");  // block: Quit and DestroyWindow
    Outcome passing = RunBrowser("\"" + sessionFile + "\"", Site() + "out1.txt");
    SetEnvironmentVariableA("KORVANE_RECORDER_MODE", nullptr);
    EXPECT_EQ(0, passing.exitCode) << passing.output;
    EXPECT_NE(std::string::npos, passing.output.find("[w2] window destroyed")) << passing.output;
    EXPECT_NE(std::string::npos, passing.output.find("ok: expect blocked http://ads.example/pop.html"));
    EXPECT_NE(std::string::npos, passing.output.find("ok: expect no references left after closing"));
    EXPECT_NE(std::string::npos, passing.output.find("8 steps, 6 expectations, 0 failed"));

    // Without the blocking mode the popup stays: the expectations fail.
    Outcome failing = RunBrowser("\"" + sessionFile + "\"", Site() + "out2.txt");
    EXPECT_EQ(1, failing.exitCode) << failing.output;
    EXPECT_NE(std::string::npos, failing.output.find("FAILED: expect windows 1 -- 2 open")) << failing.output;
}

TEST_F(ProgramTest, RejectsAFaultySessionFileBeforeOpeningAnyWindow) {
    const std::string sessionFile = Site() + "broken.txt";
    ASSERT_TRUE(korvane::test::WriteFileBytes(sessionFile, "open http://news.example/\nclick w1\n"));
    Outcome outcome = RunBrowser("\"" + sessionFile + "\"", Site() + "out3.txt");
    EXPECT_EQ(2, outcome.exitCode);
    EXPECT_NE(std::string::npos, outcome.output.find("line 2: click takes 2 to 4 arguments")) << outcome.output;
    EXPECT_EQ(std::string::npos, outcome.output.find("window opened"));
    EXPECT_EQ(2, RunBrowser("\"" + Site() + "no-such-file.txt\"", Site() + "out4.txt").exitCode);
}

// The source tree as Wine shows it: Z: is the root of the host.
std::string SourcePath(const std::string& relative) {
    std::string path = std::string("Z:") + KORVANE_SOURCE_DIR + "/" + relative;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

TEST_F(ProgramTest, PlaysTheExampleSessionWithABlockingHelper) {
    SetEnvironmentVariableA("KORVANE_RECORDER_MODE", "0x38");
    Outcome outcome = RunBrowser("\"" + SourcePath("browser/examples/popups.session") +
                                     "\" --helper " RECORDER_CLSID_TEXT,
                                 Site() + "example.txt");
    SetEnvironmentVariableA("KORVANE_RECORDER_MODE", nullptr);
    EXPECT_EQ(0, outcome.exitCode) << outcome.output;
    EXPECT_NE(std::string::npos, outcome.output.find(", 0 failed")) << outcome.output;
}

}  // namespace
}  // namespace standin::test
