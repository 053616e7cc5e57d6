#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FaultyFileOps.h"
#include "TestSupport.h"
#include "log/Log.h"
#include "log/LogFront.h"

using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

void Write(CLog& log, int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
void Write(CLog& log, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log.Write(level, format, args);
    va_end(args);
}

std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    EXPECT_EQ(start, content.size()) << "content does not end with CR LF";
    return lines;
}

// Splits a line into its local timestamp (columns 1-19, then two spaces) and the rest.
bool ParseLine(const std::string& line, struct tm& t, std::string& rest) {
    static const char shape[] = "dddd-dd-ddTdd:dd:dd  ";
    if (line.size() < 21)
        return false;
    for (size_t i = 0; i < 21; ++i) {
        bool ok = shape[i] == 'd' ? (line[i] >= '0' && line[i] <= '9') : line[i] == shape[i];
        if (!ok)
            return false;
    }
    t = {};
    t.tm_year = std::stoi(line.substr(0, 4)) - 1900;
    t.tm_mon = std::stoi(line.substr(5, 2)) - 1;
    t.tm_mday = std::stoi(line.substr(8, 2));
    t.tm_hour = std::stoi(line.substr(11, 2));
    t.tm_min = std::stoi(line.substr(14, 2));
    t.tm_sec = std::stoi(line.substr(17, 2));
    t.tm_isdst = -1;
    rest = line.substr(21);
    return true;
}

}  // namespace

TEST(LogFrontTest, LevelNameBands) {
    EXPECT_STREQ(CLog::LevelName(-1), "Debug");
    EXPECT_STREQ(CLog::LevelName(-2147483647 - 1), "Debug");
    EXPECT_STREQ(CLog::LevelName(0), "Debug");
    EXPECT_STREQ(CLog::LevelName(3), "Debug");
    EXPECT_STREQ(CLog::LevelName(4), "Info");
    EXPECT_STREQ(CLog::LevelName(7), "Info");
    EXPECT_STREQ(CLog::LevelName(8), "Warning");
    EXPECT_STREQ(CLog::LevelName(11), "Warning");
    EXPECT_STREQ(CLog::LevelName(12), "Error");
    EXPECT_STREQ(CLog::LevelName(100), "Error");
}

TEST(LogFrontTest, LineLayoutByteForByte) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    CLog log(path.c_str());
    time_t before = time(nullptr);
    Write(log, LOG_ERROR, "Windows socket initialization failed!");
    Write(log, LOG_WARNING, "%s code %d", "w", -7);
    Write(log, LOG_INFO, "info");
    Write(log, 3, "debug");
    time_t after = time(nullptr);

    std::string content = ReadFileBytes(path);
    std::vector<std::string> lines = SplitLines(content);
    ASSERT_EQ(lines.size(), 4u);
    // No stray CR or LF inside a line: each line ends with exactly one CR LF.
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 4);
    EXPECT_EQ(std::count(content.begin(), content.end(), '\r'), 4);

    const char* tails[] = {"Error    Windows socket initialization failed!", "Warning  w code -7",
                           "Info     info", "Debug    debug"};
    for (size_t i = 0; i < lines.size(); ++i) {
        struct tm t;
        std::string rest;
        ASSERT_TRUE(ParseLine(lines[i], t, rest)) << lines[i];
        EXPECT_EQ(rest, tails[i]);
        time_t written = mktime(&t);  // local time, as written
        EXPECT_GE(written, before);
        EXPECT_LE(written, after);
    }
}

TEST(LogFrontTest, LongMessagesAreCutTo253Characters) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    CLog log(path.c_str());
    std::string longMessage(300, 'x');
    longMessage[222] = 'L';  // the last character kept
    longMessage[223] = 'C';  // the first one cut
    Write(log, LOG_ERROR, "%s", longMessage.c_str());
    Write(log, LOG_ERROR, "%s", std::string(223, 'e').c_str());
    Write(log, LOG_ERROR, "%s", std::string(222, 's').c_str());
    Write(log, LOG_ERROR, "%s", "");

    std::vector<std::string> lines = SplitLines(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].size(), 253u);
    EXPECT_EQ(lines[0].substr(30), longMessage.substr(0, 223));
    EXPECT_EQ(lines[1].size(), 253u);
    EXPECT_EQ(lines[1].substr(30), std::string(223, 'e'));
    EXPECT_EQ(lines[2].size(), 252u);
    EXPECT_EQ(lines[3].size(), 30u);
    EXPECT_EQ(lines[3].substr(19), "  Error    ");
}

TEST(LogFrontTest, ThresholdRules) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    CLog log(path.c_str());
    EXPECT_EQ(log.GetLevel(), 0);
    log.SetLevel(8);
    Write(log, LOG_DEBUG, "d");
    Write(log, LOG_INFO, "i");
    Write(log, 7, "i7");
    // Below the threshold nothing touches the file system, not even an open attempt.
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(log.GetOpenAttempts(), 0);

    log.SetLevel(17);
    EXPECT_EQ(log.GetLevel(), 8);
    Write(log, LOG_WARNING, "w");

    log.SetLevel(16);
    EXPECT_EQ(log.GetLevel(), 16);
    Write(log, LOG_ERROR, "dropped");
    Write(log, 16, "sixteen");

    log.SetLevel(-5);
    EXPECT_EQ(log.GetLevel(), -5);
    Write(log, -5, "minus five");
    Write(log, -6, "minus six dropped");

    std::vector<std::string> lines = SplitLines(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(21), "Warning  w");
    EXPECT_EQ(lines[1].substr(21), "Error    sixteen");
    EXPECT_EQ(lines[2].substr(21), "Debug    minus five");
}

TEST(LogFrontTest, OpenSucceedsAtTenthAttemptWhenObstacleGoes) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    std::filesystem::create_directory(path);  // a directory cannot be opened for writing
    CLog log(path.c_str());
    for (int i = 1; i <= 9; ++i) {
        Write(log, LOG_ERROR, "lost %d", i);
        EXPECT_EQ(log.GetOpenAttempts(), i);
        // The limit is set after every attempt, failed ones included.
        EXPECT_EQ(log.File().GetMaxSize(), 262144u);
    }
    std::filesystem::remove(path);
    Write(log, LOG_ERROR, "tenth");
    Write(log, LOG_ERROR, "eleventh");
    EXPECT_EQ(log.GetOpenAttempts(), 10);
    std::vector<std::string> lines = SplitLines(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(30), "tenth");
    EXPECT_EQ(lines[1].substr(30), "eleventh");
}

TEST(LogFrontTest, SixteenFailedOpensThenNeverAgain) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    // Held by someone else: the writer's open counts as failed.
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    FaultyFileOps ops;
    CLog log(path.c_str(), ops);
    for (int i = 0; i < 16; ++i)
        Write(log, LOG_ERROR, "lost %d", i);
    EXPECT_EQ(log.GetOpenAttempts(), 16);
    EXPECT_EQ(ops.opens, 16);
    EXPECT_EQ(ops.closes, 16);  // refused descriptors are not leaked
    close(fd);
    for (int i = 0; i < 5; ++i)
        Write(log, LOG_ERROR, "still lost %d", i);
    EXPECT_EQ(log.GetOpenAttempts(), 16);
    EXPECT_EQ(ops.opens, 16);
    EXPECT_FALSE(log.File().IsOpen());
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST(LogFrontTest, WriteErrorClosesAndNextMessageReopens) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    FaultyFileOps ops;
    CLog log(path.c_str(), ops);
    Write(log, LOG_ERROR, "one");
    EXPECT_EQ(log.GetOpenAttempts(), 1);
    ops.partialBytes = 10;
    ops.failWrites = 1;
    Write(log, LOG_ERROR, "two");
    EXPECT_FALSE(log.File().IsOpen());
    Write(log, LOG_ERROR, "three");
    EXPECT_TRUE(log.File().IsOpen());
    EXPECT_EQ(log.GetOpenAttempts(), 2);
    EXPECT_EQ(ops.opens, 2);

    std::vector<std::string> lines = SplitLines(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(30), "one");
    EXPECT_EQ(lines[1].substr(30), "three");

    // Every reopen after an error counts against the same 16.
    ops.failWrites = 1000;
    for (int i = 0; i < 40; ++i)
        Write(log, LOG_ERROR, "fails %d", i);
    EXPECT_EQ(log.GetOpenAttempts(), 16);
    EXPECT_EQ(ops.opens, 16);
}

TEST(LogFrontTest, TwoThreadsNeitherInterleaveNorLoseLines) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    CLog log(path.c_str());
    constexpr int kLines = 2000;
    auto writer = [&](char tag) {
        for (int i = 0; i < kLines; ++i)
            Write(log, LOG_ERROR, "thread %c line %05d end", tag, i);
    };
    std::thread a(writer, 'A');
    std::thread b(writer, 'B');
    a.join();
    b.join();

    std::vector<std::string> lines = SplitLines(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 2u * kLines);
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        struct tm stamp;
        std::string rest;
        ASSERT_TRUE(ParseLine(line, stamp, rest)) << line;
        ASSERT_EQ(rest.size(), 32u) << line;
        ASSERT_EQ(rest.substr(0, 16), "Error    thread ") << line;
        ASSERT_EQ(rest.substr(17, 6), " line ") << line;
        ASSERT_EQ(rest.substr(28), " end") << line;
        int t = rest[16] == 'A' ? 0 : 1;
        EXPECT_EQ(std::stoi(rest.substr(23, 5)), next[t]);  // in order per thread, none missing
        ++next[t];
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

TEST(LogFrontTest, RacingThreadsNeverCountMoreThanSixteenAttempts) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    std::filesystem::create_directory(path);
    FaultyFileOps ops;
    CLog log(path.c_str(), ops);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                Write(log, LOG_ERROR, "x");
                EXPECT_LE(log.GetOpenAttempts(), 16);
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(log.GetOpenAttempts(), 16);
}

TEST(LogFrontTest, ControlCharactersInAMessageAreEscapedSoItStaysOneLine) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    CLog log(path.c_str());
    Write(log, LOG_ERROR, "the right.\nRun it\r\t\x1B[2J\x7F c:\\dir");
    // An escape that would pass the line's end is left out whole.
    Write(log, LOG_ERROR, "%s\n", std::string(222, 'm').c_str());
    std::vector<std::string> lines = SplitLines(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(30), "the right.\\nRun it\\r\\t\\x1B[2J\\x7F c:\\dir");
    EXPECT_EQ(lines[1].substr(30), std::string(222, 'm'));
}
