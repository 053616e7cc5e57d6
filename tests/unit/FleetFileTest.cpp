// The fleet file: a whole file read as written, every fault refused with its line and what is
// wrong, and the watch that keeps the last good version while a new one has a fault.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "formats/FleetFile.h"
#include "res/FailureText.h"

namespace {

const char* const kFleet = R"toml([approved]
"OL-2000" = ["2.01 (Build 311)", "2.02 (Build 320)"]
[devices."02:00:0a:4d:00:14"]
name = "Lobby camera"
note = "behind the reception desk"
expect = "transient"
gone_after = 3
[devices."02-00-0A-4D-00-15"]
retired = true
)toml";

TEST(FleetFile, ReadsEveryKeyAndFindsDevicesByAnySpellingOfTheirMac) {
    const Result<Fleet> fleet = ReadFleet(kFleet, "fleet.toml");
    ASSERT_TRUE(fleet) << FailureText(fleet.Error());
    const FleetDevice* lobby = fleet->Find("02-00-0A-4d-00-14");
    ASSERT_NE(lobby, nullptr);
    EXPECT_EQ(lobby->name, "Lobby camera");
    EXPECT_EQ(lobby->note, "behind the reception desk");
    EXPECT_EQ(lobby->expect, FleetDevice::Expect::Transient);
    EXPECT_EQ(lobby->goneAfter, 3);
    const FleetDevice* old = fleet->Find("02:00:0A:4D:00:15");
    ASSERT_NE(old, nullptr);
    EXPECT_TRUE(old->retired);
    EXPECT_EQ(old->expect, FleetDevice::Expect::Always);
    EXPECT_FALSE(old->goneAfter);
    EXPECT_EQ(fleet->Find("n/a"), nullptr);
    EXPECT_EQ(fleet->BuildApproved("OL-2000", "2.02 (Build 320)"), true);
    EXPECT_EQ(fleet->BuildApproved("OL-2000", "2.02"), false);
    EXPECT_EQ(fleet->BuildApproved("OL-3000", "2.02 (Build 320)"), std::nullopt);
}

TEST(FleetFile, RefusesEachFaultWithItsLineAndWhatIsWrong) {
    const struct {
        std::string text, fault;
    } cases[] = {
        {"[approved]\n\"OL-2000\" = [\"1\"", "f.toml:2: "},  // the library's own words follow
        {"[approved]\n\"OL-2000\" = \"2.01\"\n", "f.toml:2: the approved builds of \"OL-2000\" are no list"},
        {"[approved]\nx = [\"1\", 2]\n", "f.toml:2: an approved build of \"x\" that is no text"},
        {"[devices.\"02:00:0A:4D:00\"]\n",
         "f.toml:1: \"02:00:0A:4D:00\" is no MAC address such as \"02:00:0A:4D:00:14\""},
        {"[devices.\"02:00-0A:4D:00:14\"]\n",
         "f.toml:1: \"02:00-0A:4D:00:14\" is no MAC address such as \"02:00:0A:4D:00:14\""},
        {"[devices]\n\"02:00:0A:4D:00:14\" = 1\n", "f.toml:2: device 02:00:0A:4D:00:14 is no table"},
        {"[devices.\"02:00:0a:4d:00:14\"]\n[devices.\"02-00-0A-4D-00-14\"]\n",
         "f.toml:2: device 02:00:0A:4D:00:14 is listed twice"},
        {"[devices.\"02:00:0A:4D:00:14\"]\n\nexpect = \"sometimes\"\n",
         "f.toml:3: expect of device 02:00:0A:4D:00:14 is not \"always\", \"transient\" or \"ignore\""},
        {"[devices.\"02:00:0A:4D:00:14\"]\ngone_after = 0\n",
         "f.toml:2: gone_after of device 02:00:0A:4D:00:14 is no whole number of scans from 1"},
        {"[devices.\"02:00:0A:4D:00:14\"]\ngone_after = 2.5\n",
         "f.toml:2: gone_after of device 02:00:0A:4D:00:14 is no whole number of scans from 1"},
        {"[devices.\"02:00:0A:4D:00:14\"]\ngone_after = 2147483648\n",
         "f.toml:2: gone_after of device 02:00:0A:4D:00:14 is no whole number of scans from 1"},
        {"[devices.\"02:00:0A:4D:00:14\"]\nretired = \"yes\"\n",
         "f.toml:2: retired of device 02:00:0A:4D:00:14 is not true or false"},
        {"[devices.\"02:00:0A:4D:00:14\"]\nname = 7\n",
         "f.toml:2: name of device 02:00:0A:4D:00:14 is no text"},
        {"[devices.\"02:00:0A:4D:00:14\"]\ngone-after = 3\n",
         "f.toml:2: unknown key \"gone-after\" of device 02:00:0A:4D:00:14"},
        {"\n[device.\"02:00:0A:4D:00:14\"]\n",
         "f.toml:2: unknown key \"device\" (the file has [approved] and [devices])"},
        {"approved = 1\n", "f.toml:1: \"approved\" is no table"},
    };
    for (const auto& c : cases) {
        const Result<Fleet> fleet = ReadFleet(c.text, "f.toml");
        ASSERT_FALSE(fleet) << c.text;
        EXPECT_TRUE(fleet.Error() == Errc::BadFleetFile) << c.text;
        const std::string text = FailureText(fleet.Error());
        if (c.fault.back() == ' ')
            EXPECT_EQ(text.substr(0, c.fault.size()), c.fault) << c.text;
        else
            EXPECT_EQ(text, c.fault) << c.text;
    }
}

TEST(FleetFile, TheWatchKeepsTheLastGoodVersionAndSaysSoOncePerFaultyVersion) {
    char folder[] = "/tmp/fleet-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/fleet.toml";
    // Each version is a new file renamed into place, as configuration management writes it.
    const auto write = [&](const std::string& text) {
        const std::string next = path + ".new";
        std::ofstream(next) << text;
        ASSERT_EQ(::rename(next.c_str(), path.c_str()), 0);
    };
    using O = CFleetWatch::Outcome;
    CFleetWatch optional(path, false), required(path, true);
    const struct {
        const char* text;  // null: the file is removed
        O optionalOutcome, requiredOutcome;
        const char* name;  // of 02:00:0A:4D:00:14 in the optional watch's fleet afterwards
    } steps[] = {
        {nullptr, O::Loaded, O::Refused, nullptr},
        {"[devices.\"02:00:0A:4D:00:14\"]\nname = \"A\"\n", O::Loaded, O::Loaded, "A"},
        {"", O::Unchanged, O::Unchanged, "A"},  // nothing written: looked at again
        {"[devices.\"02:00:0A:4D:00:14\"]\nname = \n", O::Refused, O::Refused, "A"},
        {"", O::Unchanged, O::Unchanged, "A"},
        {"[devices.\"02:00:0A:4D:00:14\"]\nname = \"B\"\n", O::Loaded, O::Loaded, "B"},
        {nullptr, O::Loaded, O::Refused, nullptr},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const auto& s = steps[i];
        if (!s.text)
            ::unlink(path.c_str());
        else if (*s.text)
            write(s.text);
        EXPECT_EQ(optional.Refresh(), s.optionalOutcome) << "step " << i;
        EXPECT_EQ(required.Refresh(), s.requiredOutcome) << "step " << i;
        const FleetDevice* device = optional.Current().Find("02:00:0A:4D:00:14");
        EXPECT_EQ(device ? device->name : "(none)", s.name ? s.name : "(none)") << "step " << i;
    }
    EXPECT_EQ(FailureText(required.Fault()), path + ": No such file or directory");
    EXPECT_EQ(required.Current().Find("02:00:0A:4D:00:14")->name, "B");
    ::rmdir(folder);
}

}  // namespace
