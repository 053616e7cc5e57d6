// The registered browser's desktop entry: its field codes, its translated name, a file too large
// to be one, and an xdg-mime that hangs or leaves helpers behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "StandIn.h"
#include "desktop/CommandLine.h"
#include "desktop/DesktopEntry.h"

using namespace std::chrono_literals;
using Words = std::vector<std::string>;

namespace {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(DesktopEntryTest, FieldCodesBeforeTheAddressAreExpandedOrRemoved) {
    const std::string location = "/usr/share/applications/web browser.desktop";
    const struct {
        std::string exec;
        std::string icon;
        std::string name;
        Words words;  // the kept command, split
    } cases[] = {
        {"browser %i %c %k %u",
         "web-browser",
         "Web Browser",
         {"browser", "--icon", "web-browser", "Web Browser", location}},
        {"browser %d %D %n %N %v %m --new %U", "x", "y", {"browser", "--new"}},
        {"browser %i %c --private %f", "", "", {"browser", "--private"}},
        {"browser %x %y --new %F", "x", "y", {"browser", "--new"}},
        {R"(browser -caption "%c" "%u")", "x", "Web Browser", {"browser", "-caption", "Web Browser"}},
        {"browser --class=%c %u", "x", "Web Browser", {"browser", "--class=Web Browser"}},
        {R"(sh -c "echo \"%c\"" %u)", "x", "Web Browser", {"sh", "-c", R"(echo "Web Browser")"}},
        {"browser --label 100%% %1", "x", "y", {"browser", "--label", "100%"}},
        {"browser %i", "/opt/my icons/b.png", R"(say "hi" \)", {"browser", "--icon", "/opt/my icons/b.png"}},
        {"browser %c %u", "x", R"(say "hi" \)", {"browser", R"(say "hi" \)"}},
        {"browser %", "x", "y", {"browser", "%"}},
    };
    for (const auto& c : cases) {
        DesktopEntry entry{location, c.exec, c.icon, c.name};
        EXPECT_EQ(SplitCommandLine(CutAtFieldCode(entry)), c.words) << c.exec;
    }
}

TEST(DesktopEntryTest, TheNameIsTheOneOfTheUsersLanguage) {
    testsupport::TempDir dir;
    const std::string path = dir.file("b.desktop");
    WriteFile(path,
              "[Desktop Action new]\nName=Action\n"
              "[Desktop Entry]\nName[de]=de\nName=plain\nName[de_AT]=de_AT\nName[de@euro]=de@euro\n"
              "Name[de_AT@euro]=de_AT@euro\nName[fr]=fr\n Exec = browser\\s-x %u \nIcon=b\n"
              "[Desktop Action private]\nName=Other\nExec=other\n");
    const struct {
        const char* lcAll;
        const char* lang;
        const char* name;
    } cases[] = {
        {nullptr, "de_AT.UTF-8@euro", "de_AT@euro"},
        {nullptr, "de_AT.UTF-8", "de_AT"},
        {nullptr, "de_CH.UTF-8", "de"},
        {nullptr, "de_CH@euro", "de@euro"},
        {nullptr, "pt_BR.UTF-8", "plain"},
        {nullptr, "C.UTF-8", "plain"},
        {nullptr, nullptr, "plain"},
        {"fr_FR.UTF-8", "de_AT.UTF-8", "fr"},
    };
    for (const auto& c : cases) {
        ScopedEnv lcAll("LC_ALL", c.lcAll);
        ScopedEnv lcMessages("LC_MESSAGES", nullptr);
        ScopedEnv lang("LANG", c.lang);
        const Result<DesktopEntry> entry = ReadDesktopEntry(path);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->name, c.name) << (c.lang ? c.lang : "no LANG");
        EXPECT_EQ(entry->exec, "browser -x %u");
        EXPECT_EQ(entry->icon, "b");
        EXPECT_EQ(entry->location, path);
    }
}

TEST(DesktopEntryTest, AFileTooLargeForAnEntryIsNotReadToItsEnd) {
    testsupport::TempDir dir;
    const std::string head = "[Desktop Entry]\nExec=browser %u\n";
    // Just within the bound it is an entry.
    const std::string fits = dir.file("fits.desktop");
    WriteFile(fits, head + "Comment=" + std::string(kMaxDesktopEntryBytes - head.size() - 9, 'c') + "\n");
    EXPECT_TRUE(ReadDesktopEntry(fits));

    // 900 MB, nearly all of it a hole: refused without being read.
    const std::string sparse = dir.file("sparse.desktop");
    WriteFile(sparse, head);
    std::filesystem::resize_file(sparse, 900ull * 1024 * 1024);
    EXPECT_FALSE(ReadDesktopEntry(sparse));

    // An endless entry (a FIFO fed by a writer with 64 MiB to give) is given up within the bound.
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
    for (const std::string& line : {std::string(200, 'x') + "\n", std::string(4096, 'y')}) {
        const std::string fifo = dir.file("endless.desktop");
        std::filesystem::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        constexpr size_t kOffered = 64u << 20;
        std::atomic<size_t> written{0};
        std::thread writer([&] {
            int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0)
                return;
            std::string text = head + "Comment=";
            while (written < kOffered) {
                ssize_t n = write(fd, text.data(), text.size());
                if (n <= 0)
                    break;  // the reader has gone
                written += static_cast<size_t>(n);
                text = line;
            }
            close(fd);
        });
        EXPECT_FALSE(ReadDesktopEntry(fifo)) << line.size();
        writer.join();
        EXPECT_LT(written.load(), kOffered) << "the reader went on to the end";
    }
    sigaction(SIGPIPE, &saved, nullptr);
}

// True once pid is gone or a zombie that nobody but init will reap.
bool Ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(") ");
    return text.empty() || (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z');
}

TEST(DesktopEntryTest, AnXdgMimeThatHangsOrLeavesHelpersIsEndedWithThemWithinItsBound) {
    const struct {
        const char* what;
        const char* body;  // after the helper has started
        const char* answer;
    } cases[] = {
        {"hangs with a helper holding its output", "exec /bin/sleep 600\n", ""},
        {"answers and leaves a helper behind", "printf 'browser.desktop\\n'\n", "browser.desktop"},
    };
    for (const auto& c : cases) {
        StandInPrograms programs;
        const std::string pidFile = programs.Dir() + "/helper.pid";
        const std::string script = programs.Dir() + "/xdg-mime";
        WriteFile(script, std::string("#!/bin/sh\n") +
                              (c.answer[0] ? "/bin/sleep 600 >/dev/null &\n" : "/bin/sleep 600 &\n") +
                              "echo $! > '" + pidFile + "'\n" + c.body);
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        ScopedEnv path("PATH", programs.Dir().c_str());

        auto query = std::async(std::launch::async,
                                [] { return QueryDefaultDesktopEntry("x-scheme-handler/http", 5s); });
        ASSERT_EQ(query.wait_for(60s), std::future_status::ready) << c.what;
        EXPECT_EQ(query.get(), c.answer) << c.what;

        pid_t helper = 0;
        std::ifstream(pidFile) >> helper;
        ASSERT_GT(helper, 0) << c.what;
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!Ended(helper) && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        EXPECT_TRUE(Ended(helper)) << c.what << ": the helper outlived the query";
        if (!Ended(helper))
            kill(helper, SIGKILL);
    }
}

}  // namespace
