// Command lines split as the original platform splits them, and started with no shell, inside
// the terminal the desktop offers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "StandIn.h"
#include "desktop/CommandLine.h"
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
        for (const char* console : {"telnet", "ssh"})
            programs.Add(console);
        ScopedEnv path("PATH", programs.Dir().c_str());
        ScopedEnv terminal("TERMINAL", c.terminal);
        Result<StartedProgram> started = StartInTerminal(c.commandLine);
        ASSERT_TRUE(started) << c.commandLine << ": " << started.Error().code.message();
        EXPECT_EQ(programs.WaitForRun(10s), c.expected) << c.commandLine;
        started->WaitEnd(10s);
    }
}

TEST(CommandLineTest, WhatCannotStartIsLoggedWithItsReason) {
    LogCapture log;
    StandInPrograms programs;
    programs.Add("browser");
    programs.Add("telnet");
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
        const Result<StartedProgram> started =
            c.inTerminal ? StartInTerminal(c.commandLine) : StartCommandLine(c.commandLine);
        EXPECT_FALSE(started) << c.commandLine;
        EXPECT_EQ(started.Error().code.message(), c.reason) << c.commandLine;
        EXPECT_TRUE(
            log.Contains("Could not start (" + std::string(c.reason) + "): \"" + c.commandLine + "\""))
            << c.commandLine;
    }

    // A windowed program starts directly, arguments untouched, and no failure is logged for it.
    auto failures = [&log] {
        std::size_t count = 0;
        for (const std::string& text : log.Texts())
            count += text.starts_with("Could not start") ? 1 : 0;
        return count;
    };
    const std::size_t before = failures();
    Result<StartedProgram> browser = StartCommandLine("browser \"http://10.0.0.5/\" --new-window");
    ASSERT_TRUE(browser);
    EXPECT_EQ(programs.WaitForRun(10s), (Words{"browser", "http://10.0.0.5/", "--new-window"}));
    browser->WaitEnd(10s);
    EXPECT_EQ(failures(), before);
}

TEST(CommandLineTest, AConsoleProgramThatCannotRunOpensNoTerminal) {
    LogCapture log;
    StandInPrograms programs;
    programs.Add("xterm");
    { std::ofstream(programs.Dir() + "/plain") << "text\n"; }
    ScopedEnv path("PATH", programs.Dir().c_str());
    ScopedEnv terminal("TERMINAL", nullptr);
    const struct {
        std::string commandLine;
        const char* reason;
    } cases[] = {
        {"telnet 10.0.0.5", "not found"},
        {"/nonexistent/telnet 10.0.0.5", "not found"},
        {"plain 10.0.0.5", "not executable"},
    };
    for (const auto& c : cases) {
        const Result<StartedProgram> started = StartInTerminal(c.commandLine);
        EXPECT_FALSE(started) << c.commandLine;
        EXPECT_EQ(started.Error().code.message(), c.reason) << c.commandLine;
        EXPECT_TRUE(
            log.Contains("Could not start (" + std::string(c.reason) + "): \"" + c.commandLine + "\""))
            << c.commandLine;
        EXPECT_FALSE(programs.WaitForRun(0ms)) << "no terminal for " << c.commandLine;
    }
}

TEST(CommandLineTest, TheReasonSurvivesACommandLineLongerThanALogLine) {
    LogCapture log;
    ScopedEnv path("PATH", "/nonexistent");
    const std::string commandLine = "browser " + std::string(400, 'u');
    EXPECT_FALSE(StartCommandLine(commandLine));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(log.Texts()[0].starts_with("Could not start (not found): \"browser uuu")) << log.Texts()[0];
}

TEST(CommandLineTest, ControlCharactersOfACommandLineAreEscapedInTheLog) {
    LogCapture log;
    ScopedEnv path("PATH", "/nonexistent");
    EXPECT_FALSE(
        StartCommandLine("browser\x1B[2J \xC2\x9B"
                         "31m\nhttp://x/"));
    EXPECT_TRUE(log.Contains("Could not start (not found): \"browser\\x1B[2J \\x9B31m\\nhttp://x/\""))
        << testing::PrintToString(log.Texts());
}

// Runs in a fresh copy of the test program (the warning is once per run); as root the first
// started program is named in a Warning line and the second is not, otherwise no such line.
TEST(CommandLineTest, AProgramStartedAsRootIsWarnedAboutOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The stand-ins' folder goes with the lambda's locals, before the child's exit.
    EXPECT_EXIT(std::exit([] {
            LogCapture log;
            StandInPrograms programs;
            programs.Add("browser");
            programs.Add("xterm");
            ScopedEnv path("PATH", programs.Dir().c_str());
            ScopedEnv terminal("TERMINAL", nullptr);
            bool started = StartCommandLine("browser http://10.0.0.5/") && programs.WaitForRun(10s) &&
                           StartInTerminal("xterm -e telnet 10.0.0.5") && programs.WaitForRun(10s);
            std::size_t warnings = 0;
            for (const std::string& text : log.Texts())
                warnings += text.find("runs as root") != std::string::npos ? 1 : 0;
            const bool root = getuid() == 0 || geteuid() == 0;
            const bool named = log.Contains(
                "\"browser\" runs as root with every capability, since OLDiscovery runs as root; give "
                "OLDiscovery cap_net_raw instead");
            return started && warnings == (root ? 1u : 0u) && named == root ? 0 : 1;
        }()),
        testing::ExitedWithCode(0), "");
}

// A started program's end as its pidfd tells it: within the wait, still running at its end, or
// why exec refused it (a script without "#!").
TEST(CommandLineTest, AStartedProgramsEndIsReported) {
    testsupport::TempDir dir;
    const std::string script = dir.file("no-interpreter");
    std::ofstream(script) << "exit 0\n";
    chmod(script.c_str(), 0755);
    using Kind = ProgramEnd::Kind;
    const struct {
        Words argv;
        std::chrono::milliseconds wait;
        Kind kind;
        int value;
        const char* logged;  // the failure's Warning, before the command line
    } cases[] = {
        {{"/bin/sh", "-c", "exit 0"}, 5000ms, Kind::Exited, 0, nullptr},
        {{"/bin/sh", "-c", "exit 4"}, 5000ms, Kind::Exited, 4, "Started, then exited with status 4: "},
        {{"/bin/sh", "-c", "kill -9 $$"}, 5000ms, Kind::Signalled, 9, "Started, then ended by signal 9: "},
        {{"/bin/sh", "-c", "sleep 3"}, 200ms, Kind::Running, 0, nullptr},
        {{script}, 5000ms, Kind::NotStarted, 0, "Could not start (Exec format error): "},
    };
    for (const auto& c : cases) {
        LogCapture log;
        Result<StartedProgram> started = SpawnProgram(c.argv);
        ProgramEnd end{Kind::NotStarted, 0, started.Error()};
        if (started)
            end = started->WaitEnd(c.wait);
        EXPECT_EQ(end.kind, c.kind) << c.argv.back();
        EXPECT_EQ(end.value, c.value) << c.argv.back();
        EXPECT_EQ(end.Failed(), c.logged != nullptr) << c.argv.back();
        if (end.Failed()) {
            LogProgramFailure("shown", end);
            EXPECT_TRUE(log.Contains(c.logged + std::string("\"shown\""))) << c.argv.back();
        }
        if (end.kind == Kind::Running)
            kill(started->Pid(), SIGKILL);
        if (started && started->EndFd() >= 0) {
            EXPECT_EQ(started->WaitEnd(10s).kind, Kind::Signalled) << "reaped after the wait";
        }
    }
}

TEST(CommandLineTest, AQuotedWordSplitsBackToItself) {
    for (const std::string word : {"", "plain", "Firefox ESR", "say \"hi\"", R"(C:\dir\)", R"(a\"b)",
                                   R"(\\")", "tab\there", R"(end\\)", "100%"}) {
        EXPECT_EQ(SplitCommandLine(QuoteWord(word)), Words{word}) << word;
        EXPECT_EQ(SplitCommandLine("x " + QuoteWord(word) + " y"), (Words{"x", word, "y"})) << word;
    }
}

}  // namespace
