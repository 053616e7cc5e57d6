// The descriptor owner: exactly one close per descriptor, whoever ends up holding it.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/UniqueFd.h"

namespace {

bool IsOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

}  // namespace

TEST(UniqueFdTest, ClosesOnceWhereverOwnershipWent)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    {
        UniqueFd first(ends[0]);
        UniqueFd second(std::move(first));
        EXPECT_FALSE(first.valid());
        first = std::move(second);  // back again: nothing closed on the way
        EXPECT_TRUE(IsOpen(ends[0]));
        first = std::move(first);   // onto itself: still held
        EXPECT_EQ(first.get(), ends[0]);
        UniqueFd other(ends[1]);
        other.reset(other.get());   // the same descriptor again: not closed under it
        EXPECT_TRUE(IsOpen(ends[1]));
        first = std::move(other);   // takes the write end, closes the read end
        EXPECT_FALSE(IsOpen(ends[0]));
        EXPECT_TRUE(IsOpen(ends[1]));
    }
    EXPECT_FALSE(IsOpen(ends[1]));

    ASSERT_EQ(::pipe(ends), 0);
    {
        UniqueFd released(ends[0]);
        EXPECT_EQ(released.release(), ends[0]);
        UniqueFd closed(ends[1]);
    }
    EXPECT_TRUE(IsOpen(ends[0]));  // released: the caller's to close
    EXPECT_FALSE(IsOpen(ends[1]));
    ::close(ends[0]);
}
