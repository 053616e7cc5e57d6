#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "TestSupport.h"
#include "log/Log.h"
#include "log/LogFile.h"

using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

// Runs each test inside its own empty folder, as the program runs in its current directory.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldDir = std::filesystem::current_path();
        std::filesystem::current_path(m_dir.path());
    }
    void TearDown() override {
        LogClose();
        std::filesystem::current_path(m_oldDir);
    }
    std::string Content(const std::string& name = "debug.log") { return ReadFileBytes(m_dir.file(name)); }
    bool Exists(const std::string& name = "debug.log") { return std::filesystem::exists(m_dir.file(name)); }

    TempDir m_dir;
    std::filesystem::path m_oldDir;
};

// Message texts of the lines in `content`, head cut off.
std::vector<std::string> Messages(const std::string& content) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        out.push_back(content.substr(start + 30, end - start - 30));
    return out;
}

}  // namespace

TEST_F(LogTest, NoLogObjectMeansNothingHappens) {
    LogWrite(LOG_ERROR, "before open %d", 1);
    LogSetLevel(4);
    LogClose();
    EXPECT_FALSE(Exists());

    LogOpen("debug.log");
    LogClose();
    EXPECT_FALSE(Exists());  // opening the log opens no file
    LogWrite(LOG_ERROR, "after close");
    LogClose();
    EXPECT_FALSE(Exists());
}

TEST_F(LogTest, ThresholdEightKeepsDebugAndInfoOutAndSecondOpenIsIgnored) {
    LogOpen("debug.log");
    LogSetLevel(8);
    LogOpen("other.log");  // a second open changes neither the name nor the threshold
    LogWrite(LOG_DEBUG, "banner");
    LogWrite(LOG_INFO, "info");
    EXPECT_FALSE(Exists());
    EXPECT_FALSE(Exists("other.log"));
    LogWrite(LOG_ERROR, "error %s", "here");
    LogSetLevel(17);  // ignored: Warning still passes
    LogWrite(LOG_WARNING, "warning");
    EXPECT_EQ(Messages(Content()), (std::vector<std::string>{"error here", "warning"}));
}

TEST_F(LogTest, ExistingFileIsAppendedTo) {
    {
        std::ofstream out(m_dir.file("debug.log"), std::ios::binary);
        out << "previous run\r\n";
    }
    LogOpen("debug.log");
    LogWrite(LOG_ERROR, "this run");
    LogClose();
    LogOpen("debug.log");
    LogWrite(LOG_ERROR, "next run");
    std::string content = Content();
    EXPECT_EQ(content.substr(0, 14), "previous run\r\n");
    EXPECT_EQ(Messages(content.substr(14)), (std::vector<std::string>{"this run", "next run"}));
}

TEST_F(LogTest, RelativeNameResolvedAtFirstOpen) {
    LogOpen("debug.log");
    std::filesystem::create_directory(m_dir.file("later"));
    std::filesystem::current_path(m_dir.file("later"));
    LogWrite(LOG_ERROR, "where");
    EXPECT_FALSE(Exists());
    EXPECT_EQ(Messages(Content("later/debug.log")), std::vector<std::string>{"where"});
}

TEST_F(LogTest, CloseReleasesTheFileForOtherWriters) {
    LogOpen("debug.log");
    LogWrite(LOG_ERROR, "held");
    CLogFile other;
    other.Open("debug.log");
    EXPECT_FALSE(other.IsOpen());
    LogClose();
    other.Open("debug.log");
    EXPECT_TRUE(other.IsOpen());
}

// Late writers keep calling while the log is opened and closed again and again. Under the
// sanitizers this shows any use of a destroyed log; afterwards the file must stay untouched.
TEST_F(LogTest, LateWritersRaceCloseSafely) {
    constexpr int kWriters = 3;
    std::atomic<bool> stop{false};
    std::atomic<long> calls[kWriters];
    for (auto& c : calls)
        c = 0;
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t)
        writers.emplace_back([&, t] {
            for (long i = 0; !stop.load(); ++i) {
                if (t == 0 && i % 7 == 0)
                    LogSetLevel(LOG_INFO);
                LogWrite(i % 2 ? LOG_ERROR : LOG_DEBUG, "writer %d call %ld", t, i);
                calls[t].fetch_add(1);
            }
        });
    auto waitForProgress = [&](long more) {
        long target[kWriters];
        for (int t = 0; t < kWriters; ++t)
            target[t] = calls[t].load() + more;
        for (int t = 0; t < kWriters; ++t)
            while (calls[t].load() < target[t])
                std::this_thread::yield();
    };

    for (int cycle = 0; cycle < 20; ++cycle) {
        LogOpen("debug.log");
        waitForProgress(3);
        LogClose();
        waitForProgress(3);
    }
    std::string afterClose = Content();
    waitForProgress(200);
    stop = true;
    for (std::thread& w : writers)
        w.join();

    EXPECT_EQ(Content(), afterClose);
    ASSERT_FALSE(afterClose.empty());
    EXPECT_EQ(afterClose.substr(afterClose.size() - 2), "\r\n");
}
