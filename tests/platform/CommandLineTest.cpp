// Command lines split as the original platform splits them, and started with no shell, inside
// the terminal the desktop offers.
#include <gtest/gtest.h>

#include <fstream>

#include "StandIn.h"
#include "platform/CommandLine.h"
#include "LogCapture.h"

using namespace std::chrono_literals;
using Words = std::vector<std::string>;

namespace {

TEST(CommandLineTest, SplitsLikeTheOriginalPlatform) {
    const struct {
        const char* line;
        Words words;
    } cases[] = {
        {"telnet 10.0.0.5", {"telnet", "10.0.0.5"}},
        {"  ssh\t-l root   10.0.0.5 ", {"ssh", "-l", "root", "10.0.0.5"}},
        {"", {}},
        {" \t ", {}},
        {R"("/opt/my tools/term" -e "telnet 10.0.0.5")", {"/opt/my tools/term", "-e", "telnet 10.0.0.5"}},
        {R"(a"b c"d)", {"ab cd"}},
        {R"(x "" y)", {"x", "", "y"}},
        {R"(a\\b \d)", {R"(a\\b)", R"(\d)"}},
        {R"(a\"b)", {R"(a"b)"}},
        {R"(a\\"b c")", {R"(a\b c)"}},
        {R"(a\\\"b)", {R"(a\"b)"}},
        {R"("C:\dir\\" next)", {R"(C:\dir\)", "next"}},
        {R"("say ""hi""" x)", {R"(say "hi")", "x"}},
        {R"("open ended)", {"open ended"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

TEST(CommandLineTest, StartsInTheTerminalTheDesktopOffers) {
    const struct {
        Words installed;
        const char* terminal;  // $TERMINAL, or nullptr for unset
        const char* commandLine;
        Words expected;  // empty: nothing may start
    } cases[] = {
        {{"myterm", "xterm"}, "myterm", "telnet 10.0.0.5", {"myterm", "-e", "telnet", "10.0.0.5"}},
        {{"xterm"}, "", "telnet 10.0.0.5", {"xterm", "-e", "telnet", "10.0.0.5"}},
        {{"xterm"}, "gone", "telnet 10.0.0.5", {"xterm", "-e", "telnet", "10.0.0.5"}},
        {{"x-terminal-emulator", "gnome-terminal"},
         nullptr,
         "ssh \"a b\"",
         {"x-terminal-emulator", "-e", "ssh", "a b"}},
        {{"gnome-terminal", "konsole"}, nullptr, "telnet h", {"gnome-terminal", "--", "telnet", "h"}},
        {{"konsole", "xterm"}, nullptr, "telnet h", {"konsole", "-e", "telnet", "h"}},
        {{"xfce4-terminal", "xterm"}, nullptr, "telnet h", {"xfce4-terminal", "-x", "telnet", "h"}},
        {{"xterm", "konsole"},
         nullptr,
         "konsole --hold -e telnet h",
         {"konsole", "--hold", "-e", "telnet", "h"}},
        {{"xterm", "myterm"}, "myterm", "myterm -x h", {"myterm", "-x", "h"}},
    };
    for (const auto& c : cases) {
        StandInPrograms programs;
        for (const std::string& name : c.installed)
            programs.Add(name);
        ScopedEnv path("PATH", programs.Dir().c_str());
        ScopedEnv terminal("TERMINAL", c.terminal);
        std::string reason;
        ASSERT_TRUE(StartInTerminal(c.commandLine, &reason)) << c.commandLine << ": " << reason;
        EXPECT_EQ(programs.WaitForRun(10s), c.expected) << c.commandLine;
    }
}

TEST(CommandLineTest, WhatCannotStartIsLoggedWithItsReason) {
    LogCapture log;
    StandInPrograms programs;
    programs.Add("browser");
    const std::string notExecutable = programs.Dir() + "/plain";
    { std::ofstream(notExecutable) << "text\n"; }
    ScopedEnv path("PATH", programs.Dir().c_str());
    ScopedEnv terminal("TERMINAL", nullptr);

    const struct {
        bool inTerminal;
        std::string commandLine;
        const char* reason;
    } cases[] = {
        {false, "nosuchprogram http://10.0.0.5/", "not found"},
        {false, notExecutable + " x", "not executable"},
        {false, programs.Dir() + " x", "not executable"},
        {false, "  ", "empty command line"},
        {true, "telnet 10.0.0.5", "no terminal"},
    };
    for (const auto& c : cases) {
        std::string reason;
        bool started =
            c.inTerminal ? StartInTerminal(c.commandLine, &reason) : StartCommandLine(c.commandLine, &reason);
        EXPECT_FALSE(started) << c.commandLine;
        EXPECT_EQ(reason, c.reason) << c.commandLine;
        EXPECT_TRUE(log.Contains("Could not start \"" + c.commandLine + "\": " + c.reason)) << c.commandLine;
    }

    // A windowed program starts directly, arguments untouched, and nothing is logged for it.
    const std::size_t lines = log.Lines().size();
    ASSERT_TRUE(StartCommandLine("browser \"http://10.0.0.5/\" --new-window"));
    EXPECT_EQ(programs.WaitForRun(10s), (Words{"browser", "http://10.0.0.5/", "--new-window"}));
    EXPECT_EQ(log.Lines().size(), lines);
}

}  // namespace
