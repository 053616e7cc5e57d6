// The program's own path, as pasted into a shell by an administrator.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/ProgramFile.h"

namespace {

// What /bin/sh makes of the quoted word.
std::string ThroughShell(const std::string& word) {
    std::string command = "printf '%s' " + word;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "<popen failed>";
    std::string out;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

}  // namespace

TEST(ProgramFileTest, QuotedPathsSurviveTheShell) {
    struct Case {
        std::string path;
        bool quoted;
    };
    const Case cases[] = {
        {"/usr/bin/OLDiscovery", false},
        {"/opt/old-1.4/bin/oldiscovery-scan", false},
        {"/home/ann/My Tools/OLDiscovery", true},
        {"/home/ann/it's/OLDiscovery", true},
        {"/tmp/$(reboot)/a;b|c&d`e`", true},
        {"/tmp/*?[x]~\"\\", true},
        {"", true},
    };
    for (const Case& c : cases) {
        const std::string word = ShellQuoted(c.path);
        EXPECT_EQ(word != c.path, c.quoted) << c.path;
        EXPECT_EQ(ThroughShell(word), c.path) << word;
    }
}

TEST(ProgramFileTest, TheRunningProgramIsFound) {
    const Result<std::string> program = GetProgramFilePath();
    ASSERT_TRUE(program);
    const std::string& path = *program;
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "ProgramFileTest");
}
