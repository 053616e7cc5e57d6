// The descriptor owner: exactly one close per descriptor, whoever ends up holding it.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/UniqueFd.h"

static bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFdTest, ClosesOnceWhereverOwnershipWent) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    {
        UniqueFd read(ends[0]), write(ends[1]);
        UniqueFd moved(std::move(read));
        moved = std::move(moved);  // onto itself: still held
        write.reset(write.get());  // the same descriptor again: not closed under it
        EXPECT_TRUE(IsOpen(ends[0]) && IsOpen(ends[1]));
        moved = std::move(write);  // takes the write end, closes the read end
        EXPECT_FALSE(IsOpen(ends[0]));
        EXPECT_TRUE(IsOpen(ends[1]));
    }
    EXPECT_FALSE(IsOpen(ends[1]));
}
