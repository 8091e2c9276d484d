#include <gtest/gtest.h>

#include <string>

#include "module/module_rules.h"

using namespace korvane;

TEST(ShellHost, ExplorerInAnyLetterCaseAnywhereInThePathIsRefused) {
    EXPECT_TRUE(IsShellHost("C:\\WINDOWS\\explorer.exe"));
    EXPECT_TRUE(IsShellHost("C:\\WINDOWS\\EXPLORER.EXE"));
    EXPECT_TRUE(IsShellHost("c:\\windows\\ExPlOrEr.ExE"));
    EXPECT_TRUE(IsShellHost("D:\\tools\\explorer.exe.backup\\run.exe"));
    EXPECT_FALSE(IsShellHost("C:\\Program Files\\Internet Explorer\\iexplore.exe"));
    EXPECT_FALSE(IsShellHost("C:\\explorer\\notepad.exe"));
    EXPECT_FALSE(IsShellHost(""));
    EXPECT_FALSE(IsShellHost(nullptr));
}

TEST(ShellHost, LongPathsAreExaminedWhole) {
    const std::string deep = "C:\\" + std::string(600, 'd') + "\\Explorer.EXE";
    EXPECT_TRUE(IsShellHost(deep.c_str()));
}
