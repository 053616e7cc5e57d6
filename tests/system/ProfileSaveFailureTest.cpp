// Saves that cannot succeed (read-only file, read-only file system, full file system) are said
// on the log's channel and stderr, and the old file stays whole. Root ignores file modes, so the
// folders are real mounts in the test's own mount namespace, gone when the process ends.
#include "gui/framework/WinApp.h"

#include "ProfileSandbox.h"
#include "ProfileValues.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

const char kCompany[] = "Quarrin-Velto Networks";
const char kSection[] = "Application Settings";
const std::string kOldText = "[Application%20Settings]\nTelnetPath=/usr/bin/telnet\nAutoRefresh=1\n";

// A small tmpfs over the sandbox's folder, removed again at the end of the case.
class ScratchMount {
public:
    ScratchMount(const std::string& folder, const char* options) : m_folder(folder) {
        m_ok = ::mount("oldtest", folder.c_str(), "tmpfs", 0, options) == 0;
        EXPECT_TRUE(m_ok) << std::strerror(errno);
    }
    ~ScratchMount() {
        if (m_ok)
            ::umount2(m_folder.c_str(), MNT_DETACH);
    }
    bool Remount(unsigned long flags) {
        return ::mount(nullptr, m_folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | flags, nullptr) == 0;
    }

private:
    std::string m_folder;
    bool m_ok = false;
};

void FillUp(const std::string& folder) {
    std::ofstream filler(folder + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
    }
}

TEST(ProfileSaveFailureTest, FailedSaveIsSaidWithPathAndReasonAndTheOldFileStaysWhole) {
    struct Case {
        const char* what;
        const char* mountOptions;  // null: no mount
        std::function<void(const std::string& folder, ScratchMount*)> spoil;
        const char* reason;
    };
    const Case cases[] = {
        {"read-only file", nullptr,
         [](const std::string& folder, ScratchMount*) {
             ASSERT_EQ(::chmod((folder + "/" + kCompany + "/OLDiscovery.conf").c_str(), 0444), 0);
         },
         "it is read-only"},
        {"read-only file system", "size=1m",
         [](const std::string&, ScratchMount* mount) { ASSERT_TRUE(mount->Remount(MS_RDONLY)); },
         "Read-only file system"},
        {"full file system", "size=64k", [](const std::string& folder, ScratchMount*) { FillUp(folder); },
         "No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProfileSandbox sandbox;
        std::unique_ptr<ScratchMount> mount;
        if (c.mountOptions)
            mount = std::make_unique<ScratchMount>(sandbox.Folder(), c.mountOptions);
        const std::string file = sandbox.ProfileFile();
        sandbox.WriteText(file, kOldText);
        c.spoil(sandbox.Folder(), mount.get());

        CWinApp app("OLDiscovery");
        app.SetRegistryKey(kCompany);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(WriteProfileString(app, kSection, "TelnetPath", "/opt/telnet-ssl"));
        EXPECT_FALSE(WriteProfileInt(app, kSection, "AutoRefresh", 0));
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string warning = std::string("Settings file not saved (") + c.reason + "): " + file;
        EXPECT_EQ(app.ProfileSaveWarning(), warning);
        EXPECT_EQ(err, "OLDiscovery: Warning: " + warning + "\n");
        EXPECT_EQ(sandbox.ReadText(file), kOldText);
        for (const auto& entry : std::filesystem::directory_iterator(sandbox.Folder() + "/" + kCompany))
            EXPECT_EQ(entry.path().filename(), "OLDiscovery.conf") << "nothing left beside it";

        // Once the file system takes writes again, the save goes through and the warning is over.
        if (mount && mount->Remount(0)) {
            std::filesystem::remove(sandbox.Folder() + "/filler");
            EXPECT_TRUE(WriteProfileString(app, kSection, "TelnetPath", "/opt/telnet-ssl"));
            EXPECT_EQ(app.ProfileSaveWarning(), "");
            EXPECT_EQ(GetProfileString(app, kSection, "TelnetPath", "d"), "/opt/telnet-ssl");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // While the process has one thread: a mount namespace of its own, its mounts private.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::printf("SKIP: no mount namespace here (%s)\n", std::strerror(errno));
        return 77;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
