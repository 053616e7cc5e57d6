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
        unsigned major = 77, minor = 77;
        EXPECT_EQ(ParseKernelRelease(c.release, &major, &minor), c.ok) << c.release;
        if (c.ok) {
            EXPECT_EQ(major, c.major) << c.release;
            EXPECT_EQ(minor, c.minor) << c.release;
        } else {
            EXPECT_EQ(major, 77u) << "unchanged on failure: " << c.release;
        }
    }
    unsigned major = 0, minor = 0;
    EXPECT_FALSE(ParseKernelRelease(nullptr, &major, &minor));
}

TEST(SystemVersionTest, TheRunningKernelIsReadable) {
    unsigned major = 0, minor = 0;
    ASSERT_TRUE(GetKernelVersion(&major, &minor));
    EXPECT_GE(major, 3u);
}
