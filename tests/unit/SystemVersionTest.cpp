// Reading the kernel release text.
#include <gtest/gtest.h>

#include "base/SystemVersion.h"

TEST(SystemVersionTest, ReleaseTexts) {
    struct Case {
        const char* release;
        bool ok;
        unsigned major, minor;
    } cases[] = {
        {"6.1.0-18-amd64", true, 6, 1},
        {"3.10.0-1160.el7.x86_64", true, 3, 10},
        {"2.6.32", true, 2, 6},
        {"5.15", true, 5, 15},
        {"4.19.0+", true, 4, 19},
        {"10.0", true, 10, 0},
        {"5", false, 0, 0},
        {"5.", false, 0, 0},
        {"", false, 0, 0},
        {"v5.10", false, 0, 0},
        {"-3.10", false, 0, 0},
        {".10", false, 0, 0},
        {"99999999999.1", false, 0, 0},
        {"5.-1", false, 0, 0},
    };
    for (const Case& c : cases) {
        const Result<KernelVersion> version = ParseKernelRelease(c.release);
        EXPECT_EQ(static_cast<bool>(version), c.ok) << c.release;
        if (c.ok) {
            EXPECT_EQ(version->major, c.major) << c.release;
            EXPECT_EQ(version->minor, c.minor) << c.release;
        } else {
            EXPECT_EQ(version.Error(), Errc::DamagedFile) << c.release;
        }
    }
    EXPECT_FALSE(ParseKernelRelease(nullptr));
}

TEST(SystemVersionTest, TheRunningKernelIsReadable) {
    const Result<KernelVersion> version = GetKernelVersion();
    ASSERT_TRUE(version);
    EXPECT_GE(version->major, 3u);
}
