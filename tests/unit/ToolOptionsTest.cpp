// The command lines of oldiscovery-scan and orvalink-sim: what each accepted form sets, and the
// message and exit status of each rejected one. Scripts and the tests of the network depend on
// every spelling, and on messages they match.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ScanOptions.h"
#include "SimOptions.h"

namespace {

// argv for the words, after a program name.
struct Argv {
    explicit Argv(std::vector<std::string> words) : words(std::move(words)) {
        pointers.push_back(program);
        for (std::string& w : this->words)
            pointers.push_back(w.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(pointers.size()) - 1; }
    std::vector<std::string> words;
    char program[5] = "tool";
    std::vector<char*> pointers;
};

// What a usage function writes to a stream, and its status.
template <typename F>
std::pair<std::string, int> Written(F usage) {
    std::FILE* f = std::tmpfile();
    const int status = usage(f);
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    return {text, status};
}

std::string Describe(const ScanOptions& o) {
    if (o.version)
        return "version";
    std::string d = o.json ? "json" : o.prometheus ? "prometheus" : "table";
    if (o.watch)
        d += " watch=" + std::to_string(o.watchSeconds) + " gone=" + std::to_string(o.goneAfter);
    if (o.waitMs)
        d += " wait=" + std::to_string(o.waitMs);
    if (o.maxTimeSeconds)
        d += " max-time=" + std::to_string(o.maxTimeSeconds);
    if (o.stream)
        d += " stream";
    for (const std::string& i : o.interfaces)
        d += " if=" + i;
    if (!o.output.empty())
        d += " output=" + o.output;
    if (o.haveLocate)
        d += " locate=" + o.locate;
    if (!o.logFile.empty())
        d += " log=" + o.logFile;
    if (!o.stateFile.empty())
        d += " state=" + o.stateFile;
    for (const std::string& a : o.forget)
        d += " forget=" + a;
    if (o.haveRetire || o.haveMaxKnown)
        d += " retire=" + std::to_string(o.retireDays) + " max-known=" + std::to_string(o.maxKnown);
    return d;
}

struct Case {
    std::vector<std::string> words;
    std::string expected;  // "help", the problem, or what the options describe as
};

std::string Scan(const std::vector<std::string>& words) {
    Argv argv(words);
    ScanOptions options;
    bool help = false;
    std::string problem = ParseScanOptions(argv.argc(), argv.pointers.data(), options, help);
    return !problem.empty() ? problem : help ? "help" : Describe(options);
}

std::string Describe(const sim::Options& o) {
    if (!o.relayFrom.empty())
        return "relay " + o.relayFrom + " " + o.relayTo;
    std::string d = o.interface;
    for (const sim::Device& device : o.devices)
        d += " " + sim::FormatIp(device.ip) + "/" +
             sim::FormatHex(sim::Bytes(device.mac.begin(), device.mac.end()));
    d += " extra=" + sim::FormatHex(o.extra);
    if (!o.marked)
        d += " unmarked";
    d += std::string(o.answerArp ? "" : " no-arp") + (o.arpFirst ? " arp-first" : "");
    d += " delay=" + std::to_string(o.delayMs) + " copies=" + std::to_string(o.copies) +
         " prefix=" + std::to_string(o.prefixLength);
    if (!o.ipOptions.empty())
        d += " ip-options=" + sim::FormatHex(o.ipOptions);
    if (o.zeroSource)
        d += " zero-source";
    if (o.repeatMs)
        d += " repeat=" + std::to_string(o.repeatMs);
    if (o.gateway)
        d += " gateway=" + sim::FormatIp(o.gateway);
    for (const std::string* path : {&o.recordPath, &o.readyPath, &o.reportPath})
        d += path->empty() ? "" : " " + *path;
    return d;
}

std::string Sim(const std::vector<std::string>& words) {
    Argv argv(words);
    sim::Options options;
    bool help = false;
    std::string problem = sim::ParseOptions(argv.argc(), argv.pointers.data(), options, help);
    return !problem.empty() ? problem : help ? "help" : Describe(options);
}

}  // namespace

TEST(ScanOptions, EachFormReadsAsItAlwaysDid) {
    const std::string watchRange = "--watch needs a whole number of seconds from 1 to 86400: ";
    const Case cases[] = {
        {{}, "table"},
        {{"--json", "--interface", "lan0", "--interface", "lan1"}, "json if=lan0 if=lan1"},
        {{"--prometheus", "--output", "/tmp/o.prom", "--wait", "100"},
         "prometheus wait=100 output=/tmp/o.prom"},
        {{"--watch"}, "table watch=10 gone=3"},
        {{"--watch", "5", "--gone-after", "2"}, "table watch=5 gone=2"},
        {{"--watch", "--json"}, "json watch=10 gone=3"},  // a next option is no number of seconds
        {{"--gone-after", "1000000", "--watch", "1"}, "table watch=1 gone=1000000"},
        {{"--wait", "0005000", "--max-time", "6"}, "table wait=5000 max-time=6"},
        // Not below the limit, any answer at all would count as one still arriving.
        {{"--wait", "5000"}, "--wait 5000 needs a --max-time above it (now 5 s)"},
        {{"--wait", "2000", "--max-time", "2"}, "--wait 2000 needs a --max-time above it (now 2 s)"},
        {{"--forget", "10.0.0.1,02:00:00:00:00:01", "--state", "s"},
         "table state=s forget=10.0.0.1,02:00:00:00:00:01"},
        {{"--forget", "2:99:0:0:0:a", "--forget", "10.0.0.1,a:B:c:d:e:f", "--state", "s"},
         "table state=s forget=02:99:00:00:00:0A forget=10.0.0.1,0A:0B:0C:0D:0E:0F"},
        {{"--state", "s", "--retire-after", "7", "--max-known", "5"}, "table state=s retire=7 max-known=5"},
        {{"--watch=86400", "--wait=250", "--interface=lan0"}, "table watch=86400 gone=3 wait=250 if=lan0"},
        {{"--locate", "10.77.1.2", "--log", "--json"}, "table locate=10.77.1.2 log=--json"},
        {{"--watch", "--prometheus", "--output", "f"}, "prometheus watch=10 gone=3 output=f"},
        // The short forms, one letter a word; -w takes a next word as seconds unless it is an option.
        {{"-j", "-i", "lan0", "-ilan1", "-o", "f"}, "json if=lan0 if=lan1 output=f"},
        {{"-w", "-j", "-of"}, "json watch=10 gone=3 output=f"},
        {{"-w", "7"}, "table watch=7 gone=3"},
        {{"-w5", "--gone-after", "2"}, "table watch=5 gone=2"},
        {{"--watch", "-h"}, "help"},
        {{"-jw"}, "unknown argument: -jw"},
        {{"-Vx"}, "unknown argument: -Vx"},
        {{"-x"}, "unknown argument: -x"},
        {{"-i"}, "-i needs an argument"},
        {{"-w", "-5"}, watchRange + "-5"},
        // --version answers alone, like --help.
        {{"-V", "--bogus"}, "version"},
        {{"--json", "--prometheus", "--version"}, "version"},
        {{"--wait", "1", "-V"}, "--wait needs a whole number of milliseconds from 100 to 5000: 1"},
        {{"--max-time", "60", "--stream", "--json"}, "json max-time=60 stream"},
        {{"--max-time=1"}, "table max-time=1"},
        {{"--max-time", "0"}, "--max-time needs a whole number of seconds from 1 to 60: 0"},
        {{"--max-time", "61"}, "--max-time needs a whole number of seconds from 1 to 60: 61"},
        {{"--stream", "--output", "f"},
         "--stream writes to standard output and excludes --prometheus, --output and --watch"},
        {{"--locate", "10.77.1.1", "--max-time", "9"}, "--locate takes no other option than --log"},
        // Help ends the reading; a problem before it still counts.
        {{"--help"}, "help"},
        {{"--json", "-h", "--bogus"}, "help"},
        {{"--wait", "1", "--help"}, "--wait needs a whole number of milliseconds from 100 to 5000: 1"},
        // Options end at the first word that is none; only full names count.
        {{"--json", "extra", "--help"}, "unknown argument: extra"},
        {{"--"}, "unknown argument: --"},
        {{"-"}, "unknown argument: -"},
        {{"-hh"}, "unknown argument: -hh"},
        {{"--js"}, "unknown argument: --js"},
        {{"--wai", "500"}, "unknown argument: --wai"},
        {{"--json=1"}, "unknown argument: --json=1"},
        {{"--interface"}, "--interface needs an argument"},
        {{"--watch", "0"}, watchRange + "0"},
        {{"--watch", "1.5"}, watchRange + "1.5"},
        {{"--watch=", "--json"}, watchRange},
        {{"--watch", "1", "--gone-after", "0"},
         "--gone-after needs a whole number of scans from 1 to 1000000: 0"},
        {{"--wait", "+200"}, "--wait needs a whole number of milliseconds from 100 to 5000: +200"},
        {{"--wait", "1000000000100"},
         "--wait needs a whole number of milliseconds from 100 to 5000: 1000000000100"},
        {{"--output", ""}, "--output needs a file name"},
        {{"--gone-after", "2"}, "--gone-after needs --watch"},
        {{"--json", "--prometheus"}, "--json and --prometheus exclude each other"},
        {{"--watch", "--prometheus"},
         "--watch --prometheus needs --output FILE (standard output carries the events)"},
        {{"--locate", "10.77.1"}, "not an IPv4 address: 10.77.1"},
        {{"--locate", "10.77.1.1", "--json"}, "--json and --locate exclude each other"},
        {{"--interface", "lan0", "--locate", "10.77.1.1"}, "--locate takes no other option than --log"},
        {{"--locate", "10.77.1.1", "--state", "s"}, "--locate takes no other option than --log"},
        {{"--state", ""}, "--state needs a file name"},
        {{"--forget", "10.0.0.1"}, "--forget needs --state FILE"},
        {{"--known"}, "--known needs --state FILE"},
        {{"--fleet", ""}, "--fleet needs a file name"},
        {{"--state", "s", "--forget", "10.0.0.1", "--fleet", "f"}, "--fleet needs a scan or --known"},
        {{"--locate", "10.77.1.1", "--fleet", "f"}, "--locate takes no other option than --log"},
        {{"--known-end"}, "--known-end needs --state FILE and a scan"},
        {{"--state", "s", "--forget", "10.0.0"}, "--forget needs an IPv4 or MAC address: 10.0.0"},
        {{"--state", "s", "--forget", "02:00:00:00:00"},
         "--forget needs an IPv4 or MAC address: 02:00:00:00:00"},
        {{"--state", "s", "--forget", "02:00:00:00:00:-1"},
         "--forget needs an IPv4 or MAC address: 02:00:00:00:00:-1"},
        {{"--state", "s", "--known", "--watch"},
         "--forget and --known take no scan option (only --json with --known)"},
        {{"--state", "s", "--forget", "10.0.0.1", "--prometheus"},
         "--forget and --known take no scan option (only --json with --known)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Scan(c.words), c.expected);
    auto [text, status] = Written([](std::FILE* f) { return ScanUsage("unknown argument: -x", f); });
    EXPECT_EQ(status, 2);
    EXPECT_EQ(text, "oldiscovery-scan: unknown argument: -x\nTry 'oldiscovery-scan --help'.\n");
    EXPECT_EQ(ScanVersion(), "oldiscovery-scan " OLD_PROJECT_VERSION "\n");
}

TEST(SimOptions, EachFormReadsAsItAlwaysDid) {
    // The default extra data is "type:OL-SIM\nbuild:1.0\n".
    const std::string one = "eth0 10.0.0.1/02 00 0A 00 00 01 extra=",
                      standard = "74 79 70 65 3A 4F 4C 2D 53 49 4D 0A 62 75 69 6C 64 3A 31 2E 30 0A";
    const std::vector<std::string> dev = {"--interface", "eth0", "--device", "10.0.0.1"};
    auto with = [&](std::vector<std::string> words) {
        words.insert(words.begin(), dev.begin(), dev.end());
        return words;
    };
    const std::string extraConflict = "--type/--build and --extra/--extra-hex/--no-extra exclude each other";
    const Case cases[] = {
        {dev, one + standard + " arp-first delay=0 copies=1 prefix=24"},
        {{"--interface", "eth0", "--device", "10.0.0.1,02:aa:bb:cc:dd:ee", "--devices", "10.0.0.255", "2"},
         "eth0 10.0.0.1/02 AA BB CC DD EE 10.0.0.255/02 00 0A 00 00 FF 10.0.1.0/02 00 0A 00 01 00 extra=" +
             standard + " arp-first delay=0 copies=1 prefix=24"},
        {{"--interface=eth0", "--devices=10.0.0.1", "1", "--type", "T", "--unmarked", "--no-arp"},
         one + "74 79 70 65 3A 54 0A unmarked no-arp delay=0 copies=1 prefix=24"},
        {with({"--build", "B", "--no-arp-first", "--duplicate"}),
         one + "62 75 69 6C 64 3A 42 0A delay=0 copies=2 prefix=24"},
        {with({"--extra", "a\\x00\\n", "--copies", "100", "--delay", "600000"}),
         one + "61 00 0A arp-first delay=600000 copies=100 prefix=24"},
        {with({"--no-extra", "--ip-options", "01010101", "--zero-source", "--gateway", "10.0.0.254",
               "--prefix-length", "32", "--record", "-", "--ready", "r", "--report", "p"}),
         one + " arp-first delay=0 copies=1 prefix=32 ip-options=01 01 01 01 zero-source gateway=10.0.0.254 "
               "- r p"},
        {with({"--extra-hex", "0a4a"}), one + "0A 4A arp-first delay=0 copies=1 prefix=24"},
        {with({"--no-extra", "--repeat", "100"}), one + " arp-first delay=0 copies=1 prefix=24 repeat=100"},
        {{"--relay-from", "a", "--relay-to", "b", "--ready", "f"}, "relay a b"},
        {{"--device", "10.0.0.1", "-h", "--bogus"}, "help"},
        {{"--bogus", "--help"}, "unknown argument: --bogus"},
        {{"eth0"}, "unknown argument: eth0"},
        {{"--"}, "unknown argument: --"},
        {{"--no-ar"}, "unknown argument: --no-ar"},
        {{"-hh"}, "unknown argument: -hh"},
        {{"--unmarked=1"}, "unknown argument: --unmarked=1"},
        {{"--interface"}, "--interface needs an argument"},
        {{"--devices"}, "--devices needs an argument"},
        {{"--devices", "10.0.0.1"}, "--devices needs an argument"},
        {{"--devices", "10.0.0.x", "5"}, "bad first device address"},
        {{"--devices", "10.0.0.1", "65001"}, "bad device count: 65001"},
        {{"--device", "10.0.0.256"}, "bad device address: 10.0.0.256"},
        {{"--device", "10.0.0.1,zz"}, "bad device hardware address: 10.0.0.1,zz"},
        {with({"--extra", "\\q"}), "bad escape in --extra"},
        {with({"--extra-hex", "zz"}), "bad hex in --extra-hex"},
        {with({"--ip-options", "010101"}), "bad --ip-options (hex, a multiple of 4 bytes, at most 40)"},
        {with({"--delay", "5x"}), "bad delay: 5x"},
        {with({"--copies", "0"}), "bad copies: 0"},
        {with({"--prefix-length", "33"}), "bad prefix length: 33"},
        {with({"--gateway", "1.2.3"}), "bad gateway address"},
        {with({"--type", "T", "--extra", "x"}), extraConflict},
        {with({"--no-extra", "--build", "B"}), extraConflict},
        {{"--relay-from", "a"}, "--relay-from and --relay-to go together"},
        {{"--interface", "eth0"}, "an interface and at least one device are needed"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sim(c.words), c.expected);
    auto [usage, helpStatus] = Written([](std::FILE* f) { return sim::Usage("", f); });
    EXPECT_EQ(helpStatus, 0);
    EXPECT_TRUE(usage.starts_with("usage: orvalink-sim --interface IF")) << usage;
    auto [text, status] = Written([](std::FILE* f) { return sim::Usage("bad delay: x", f); });
    EXPECT_EQ(status, 2);
    EXPECT_EQ(text, "orvalink-sim: bad delay: x\n" + usage);
}
