// The text of a failure: every reason has its row, a subject and an owner land where they belong.
#include <gtest/gtest.h>

#include "base/Error.h"

TEST(ErrorTest, ReasonTexts) {
    const struct {
        Failure failure;
        const char* text;
    } cases[] = {
        {Failure(Errc::OwnedByOtherUser, "", 1001), "it belongs to another user (uid 1001)"},
        {Failure(Errc::LinkOfOtherUser, "/tmp/x", 0), "/tmp/x is a symbolic link of another user (uid 0)"},
        {Failure(Errc::UnknownInterface, "eth9"), "unknown interface: eth9"},
        {Failure(Errc::InterfaceDown, "eth1"), "interface eth1 is down"},
        {Failure(Errc::NewerFormat, "3"), "written by a newer oldiscovery-scan (format version 3)"},
        {Failure(Errc::UnspecifiedAddress, "0.0.0.0"), "0.0.0.0 is an unspecified address"},
        {Failure(Errc::BadCommandLine, "unknown argument: -q"), "unknown argument: -q"},
        {Failure(Errc::IsFolder, "/x"), "it is a folder"},
        {ErrnoFailure(ENOENT), "No such file or directory"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReasonText(c.failure), c.text) << c.failure.code.value();
    // A reason added without its row would read "unknown reason N".
    for (int value = 1; value <= static_cast<int>(Errc::BadFleetFile); ++value)
        EXPECT_EQ(ReasonText(Failure(static_cast<Errc>(value))).find("unknown reason"), std::string::npos) << value;
}
