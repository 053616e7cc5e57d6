#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

#include "FaultyFileOps.h"
#include "TestSupport.h"
#include "log/Log.h"
#include "log/LogFile.h"

using testsupport::ReadFileBytes;
using testsupport::TempDir;

namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Bytes whose value depends on their offset, so a tail kept from the wrong offset shows.
std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>('!' + i % 89);
    return s;
}

// Runs `body` in a child process and returns its exit status.
template <typename F>
int InChild(F body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(LogFileTest, CreatesMissingFileAndIgnoresNullOrClosed) {
    TempDir dir;
    std::string path = dir.file("new.log");
    FaultyFileOps ops;
    ops.failCloses = 1;  // discarded: the file still counts as closed
    {
        CLogFile file(ops);
        file.WriteLine("nowhere\r\n");  // closed: nothing happens
        file.Open(nullptr);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_FALSE(std::filesystem::exists(path));

        file.Open(path.c_str());
        ASSERT_TRUE(file.IsOpen());
        file.Open(path.c_str());  // already open: no second descriptor
        file.Open(dir.file("other.log").c_str());
        EXPECT_EQ(ops.opens, 1);
        EXPECT_FALSE(std::filesystem::exists(dir.file("other.log")));
        file.WriteLine(nullptr);
        file.WriteLine("x\r\n");
        file.WriteLine("y\r\n");
        // Each line is handed to the system at once: a reader sees it before Close.
        EXPECT_EQ(ReadFileBytes(path), "x\r\ny\r\n");
        file.Close();
        EXPECT_FALSE(file.IsOpen());
        file.Open(path.c_str());  // reopening never truncates
    }
    // The destructor closed the second descriptor.
    EXPECT_EQ(ops.closes, 2);
    EXPECT_EQ(ReadFileBytes(path), "x\r\ny\r\n");
}

TEST(LogFileTest, MaxSizeIsClamped) {
    CLogFile file;
    EXPECT_EQ(file.GetMaxSize(), 32768u);
    for (uint32_t size : {262144u, 524288u, 524289u, 0xFFFFFFFFu}) {
        file.SetMaxSize(size);
        EXPECT_EQ(file.GetMaxSize(), std::min(size, 524288u));
    }
}

TEST(LogFileTest, ShrinkKeepsTailOnlyWhenOverLimit) {
    TempDir dir;
    std::string atLimit = dir.file("at.log");
    std::string overLimit = dir.file("over.log");
    std::string line = "2006-07-28T15:32:23  Error    tail\r\n";

    std::string full = Pattern(262144);
    WriteBytes(atLimit, full);
    {
        CLogFile file;
        file.Open(atLimit.c_str());
        file.SetMaxSize(262144);
        file.WriteLine(line.c_str());
    }
    EXPECT_EQ(ReadFileBytes(atLimit), full + line);

    // Numbered lines of this log's form: the newer half is kept from its first whole line on.
    std::string over;
    for (int n = 0; over.size() <= 262144; ++n)
        over += "2006-07-28T15:32:23  Info     line " + std::to_string(n) + "\r\n";
    WriteBytes(overLimit, over);
    {
        CLogFile file;
        file.Open(overLimit.c_str());
        file.SetMaxSize(262144);
        file.WriteLine(line.c_str());
        const std::string half = over.substr(over.size() - 131072);
        std::string expected = half.substr(half.find('\n') + 1) + line;
        EXPECT_EQ(ReadFileBytes(overLimit), expected);
        // Now well below the limit: the next line is simply appended.
        file.WriteLine(line.c_str());
        EXPECT_EQ(ReadFileBytes(overLimit), expected + line);
    }
}

TEST(LogFileTest, WriteErrorClosesFileAndDropsPartialLine) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    FaultyFileOps ops;
    CLogFile file(ops);
    file.Open(path.c_str());
    file.WriteLine("kept\r\n");

    ops.partialBytes = 4;
    ops.failWrites = 1;
    file.WriteLine("lost line\r\n");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ops.closes, 1);
    EXPECT_EQ(ReadFileBytes(path), "kept\r\n");

    // Closed after the error, the lock is gone: the file can be opened again and used.
    file.Open(path.c_str());
    ASSERT_TRUE(file.IsOpen());
    file.WriteLine("again\r\n");
    EXPECT_EQ(ReadFileBytes(path), "kept\r\nagain\r\n");
}

TEST(LogFileTest, ShrinkErrorsAreDiscardedAndTheLineIsStillWritten) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    std::string content = "2006-07-28T15:32:23  Info     " + Pattern(218) + "\r\n" + Pattern(50);
    WriteBytes(path, content);
    FaultyFileOps ops;
    CLogFile file(ops);
    file.Open(path.c_str());
    file.SetMaxSize(200);

    // A failed read changes nothing before the line.
    ops.failReads = 1;
    file.WriteLine("a\r\n");
    EXPECT_TRUE(file.IsOpen());
    content += "a\r\n";
    EXPECT_EQ(ReadFileBytes(path), content);

    // A failed write-back loses the tail but not the line.
    ops.failWrites = 1;
    file.WriteLine("b\r\n");
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadFileBytes(path), "b\r\n");
}

TEST(LogFileTest, HeldFileKeepsOtherWritersOutButNotReaders) {
    TempDir dir;
    std::string path = dir.file("debug.log");
    CLogFile holder;
    holder.Open(path.c_str());
    ASSERT_TRUE(holder.IsOpen());
    holder.WriteLine("held\r\n");

    // Another writer in this process, and one in another process, both fail to open it.
    CLogFile second;
    second.Open(path.c_str());
    EXPECT_FALSE(second.IsOpen());
    int child = InChild([&] {
        CLogFile other;
        other.Open(path.c_str());
        return other.IsOpen() ? 1 : 0;
    });
    EXPECT_EQ(child, 0);

    // A plain reader in another process is not hindered.
    int reader = InChild([&] { return ReadFileBytes(path) == "held\r\n" ? 0 : 1; });
    EXPECT_EQ(reader, 0);

    holder.Close();
    child = InChild([&] {
        CLogFile other;
        other.Open(path.c_str());
        return other.IsOpen() ? 0 : 1;
    });
    EXPECT_EQ(child, 0);
}

TEST(LogFileTest, LinkOrOtherUsersFileIsNeitherWrittenNorCutAndSaidOnceOnStderr) {
    const std::string standInLines = "root:x:0:0:root:/root:/bin/bash\n";
    struct Case {
        const char* what;
        std::function<void(const std::string& log, const std::string& standIn)> make;
        std::string reason;
        bool needsRoot;
    };
    const Case cases[] = {
        {"link to a system file",
         [](const std::string& log, const std::string& standIn) {
             std::filesystem::create_symlink(standIn, log);
         },
         "it is a symbolic link", false},
        {"link to a file not there yet",
         [](const std::string& log, const std::string& standIn) {
             std::filesystem::create_symlink(standIn + ".new", log);
         },
         "it is a symbolic link", false},
        {"another user's file",
         [&](const std::string& log, const std::string&) {
             WriteBytes(log, standInLines);
             ASSERT_EQ(::chown(log.c_str(), 4242, 4242), 0);
         },
         "it belongs to another user (uid 4242)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && ::geteuid() != 0)
            continue;
        TempDir dir;
        const std::string log = dir.file("debug.log"), standIn = dir.file("passwd");
        WriteBytes(standIn, standInLines);
        c.make(log, standIn);
        const std::string before = ReadFileBytes(log);
        testing::internal::CaptureStderr();
        LogOpen(log.c_str());
        LogSetLevel(LOG_DEBUG);
        for (int i = 0; i < 3; ++i)
            LogWrite(LOG_WARNING, "line %d", i);
        const long lost = LogLostLines();
        LogClose();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(program_invocation_short_name) +
                                                              ": Warning: log file " + log +
                                                              " not used: " + c.reason + "\n");
        EXPECT_EQ(lost, 3);
        EXPECT_EQ(ReadFileBytes(standIn), standInLines);
        EXPECT_FALSE(std::filesystem::exists(standIn + ".new"));
        EXPECT_EQ(ReadFileBytes(log), before);
    }
}

// An entry as older builds wrote a two-line window text, a bare line feed inside; its length
// varies, so the cuts of repeated shrinks fall on every part of it.
static std::string BrokenEntry(int n) {
    return "2006-07-28T15:32:23  Error    needs the right" + std::string(n % 61, '.') + "\nRun it as root\r\n";
}

TEST(LogFileTest, AFileOfThisLogStaysInUseWhateverItsHeadAndAnyOtherIsRefused) {
    std::string lines;
    for (int n = 0; lines.size() < 3000; ++n)
        lines += BrokenEntry(n);
    const struct {
        const char* what;
        std::string content;
        int writes;  // 0: refused
    } cases[] = {
        {"repeated shrinks of entries with a bare line feed", "", 400},
        {"a line's tail, as a shrink leaves it", "the right once\r\n" + lines, 1},
        {"cut between CR and LF", "\n" + lines, 1},
        {"an entry's tail holding a bare line feed", "right.\nRun it as root\r\n" + lines, 1},
        {"another file", Pattern(4000), 0},
        {"an export with a level but no time stamp", "IP\tMAC\n Info     " + Pattern(4000), 0},
        {"an export with a time stamp but no level", "IP\tMAC\n2006-07-28T15:32:23 \t" + Pattern(4000), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string path = dir.file("debug.log");
        WriteBytes(path, c.content);
        CLogFile file;
        file.Open(path.c_str());
        file.SetMaxSize(2000);
        testing::internal::CaptureStderr();
        for (int n = 0; n < std::max(c.writes, 1); ++n) {
            ASSERT_EQ(file.WriteLine(BrokenEntry(n).c_str()), c.writes > 0) << "write " << n;
            EXPECT_EQ(ReadFileBytes(path).starts_with("2006-07-28T15:32:23  Error"), c.writes > 0) << n;
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr().empty(), c.writes > 0);
    }
}
