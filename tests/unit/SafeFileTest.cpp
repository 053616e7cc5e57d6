// Files others read: replaced whole or not at all, never through a link or into another's file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
