// Files others read: replaced whole or not at all, never through a link or into another's file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <cerrno>

#include "base/SafeFile.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempFolder {
    fs::path path;
    TempFolder() {
        char tmpl[] = "/tmp/safefile-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempFolder() { fs::remove_all(path); }
};

TEST(SafeFile, ReplacesWholeWithModeAndLeavesNoTemporaryFile) {
    TempFolder dir;
    fs::path target = dir.path / "orvalink.prom";
    std::ofstream(target) << "old\n";
    ::umask(077);
    const Failure failed = WriteFileAtomically(target, "new\n", 0644);
    ASSERT_FALSE(failed) << failed.code.message();
    ::umask(022);
    EXPECT_EQ(ReadAll(target), "new\n");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

TEST(SafeFile, RefusedOrFailedWritesLeaveTheOldFileAndNoTemporaryFile) {
    struct Case {
        const char* name;
        void (*prepare)(const fs::path& dir, const fs::path& target);
        Errc reason;
    };
    const Case cases[] = {
        {"symbolic link",
         [](const fs::path& dir, const fs::path& target) {
             std::ofstream(dir / "elsewhere") << "old\n";
             fs::create_symlink(dir / "elsewhere", target);
         },
         Errc::SymbolicLink},
        {"other owner",
         [](const fs::path&, const fs::path& target) {
             std::ofstream(target) << "old\n";
             ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
         },
         Errc::OwnedByOtherUser},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "other owner" && ::geteuid() != 0)
            continue;  // only root can give a file away
        TempFolder dir;
        fs::path target = dir.path / "out.prom";
        c.prepare(dir.path, target);
        EXPECT_TRUE(WriteFileAtomically(target, "new\n", 0644) == c.reason);
        EXPECT_EQ(ReadAll(fs::is_symlink(target) ? dir.path / "elsewhere" : target), "old\n");
        // Nor read: a state file there would be someone else's choice.
        EXPECT_TRUE(ReadOwnFile(target).Error() == c.reason);
        for (auto& entry : fs::directory_iterator(dir.path))
            EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

}  // namespace

namespace {

// The real calls, each one recorded; the file's sync fails with failFileSync when it is set.
struct RecordingOps : SafeFileOps {
    std::vector<std::string> calls;
    int failFileSync = 0;
    int Fsync(int fd) override {
        struct stat st {};
        const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
        calls.push_back(folder ? "sync folder" : "sync file");
        if (!folder && failFileSync) {
            errno = failFileSync;
            return -1;
        }
        return SafeFileOps::Fsync(fd);
    }
    int Rename(int folder, const char* from, const char* to) override {
        calls.push_back("rename");
        return SafeFileOps::Rename(folder, from, to);
    }
};

TEST(SafeFile, DataReachTheDiskBeforeTheRenameAndAFailedSyncKeepsTheOldFile) {
    struct Case {
        int failFileSync;
        std::vector<std::string> calls;
        const char* content;
    } cases[] = {
        {0, {"sync file", "rename", "sync folder"}, "new\n"},
        {EIO, {"sync file"}, "old\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failFileSync);
        TempFolder dir;
        std::ofstream(dir.path / "out.prom") << "old\n";
        RecordingOps ops;
        ops.failFileSync = c.failFileSync;
        const Failure failed = WriteFileAtomically(dir.path / "out.prom", "new\n", 0644, ops);
        EXPECT_EQ(ops.calls, c.calls);
        EXPECT_EQ(ReadAll(dir.path / "out.prom"), c.content);
        EXPECT_EQ(failed.code, c.failFileSync ? std::error_code(c.failFileSync, std::generic_category())
                                              : std::error_code());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    }
}

}  // namespace

namespace {

// A file sync that never returns: the process is killed in it.
struct KilledInSync : SafeFileOps {
    int Fsync(int) override { ::_exit(9); }
};

TEST(SafeFile, AWriteKilledHalfWayLeavesNothingAndOwnStaleTemporariesGo) {
    const struct {
        const char* what;
        const char* planted;  // beside out.prom, so many seconds old
        long age;
        bool killed;
        std::vector<std::string> left;
    } cases[] = {
        {"killed in the file's sync", nullptr, 0, true, {"out.prom"}},
        {"a temporary a killed write left", "out.prom.abcdEFGH.tmp", 3600, false, {"out.prom"}},
        {"a young one: another writer's, still at work",
         "out.prom.abcdEFGH.tmp",
         0,
         false,
         {"out.prom", "out.prom.abcdEFGH.tmp"}},
        {"another file's", "in.prom.abcdEFGH.tmp", 3600, false, {"in.prom.abcdEFGH.tmp", "out.prom"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        std::ofstream(dir.path / "out.prom") << "old\n";
        if (c.planted) {
            std::ofstream(dir.path / c.planted) << "x";
            const timespec times[2] = {{::time(nullptr) - c.age, 0}, {::time(nullptr) - c.age, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, (dir.path / c.planted).c_str(), times, 0), 0);
        }
        if (c.killed) {
            const pid_t child = ::fork();
            if (child == 0) {
                KilledInSync ops;
                (void)WriteFileAtomically(dir.path / "out.prom", std::string(1 << 20, 'n'), 0644, ops);
                ::_exit(0);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_EQ(WEXITSTATUS(status), 9);
        } else {
            ASSERT_FALSE(WriteFileAtomically(dir.path / "out.prom", "new\n"));
        }
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(dir.path))
            left.push_back(entry.path().filename());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(ReadAll(dir.path / "out.prom"), c.killed ? "old\n" : "new\n");
    }
}

}  // namespace
