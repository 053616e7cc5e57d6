#include "SimOptions.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/LongOptions.h"

namespace sim {

namespace {

const char kUsage[] =
    "usage: orvalink-sim --interface IF (--device IP[,MAC] | --devices FIRST-IP COUNT)... [options]\n"
    "       orvalink-sim --relay-from IF --relay-to IF [--ready FILE]\n"
    "Simulates Orvalink devices on an Ethernet interface. Run it only inside a test network\n"
    "namespace: it answers broadcasts for every address it is given.\n"
    "  --device IP[,MAC]      one device (MAC defaults to 02:00 and the four address bytes)\n"
    "  --devices IP COUNT     COUNT devices with consecutive addresses from IP\n"
    "  --type TEXT            extra data carries \"type:TEXT\\n\"\n"
    "  --build TEXT           extra data carries \"build:TEXT\\n\" (after the type)\n"
    "  --extra TEXT           extra data as given, with \\n \\r \\t \\\\ \\0 \\xHH escapes\n"
    "  --extra-hex HEX        extra data as raw bytes\n"
    "  --no-extra             no extra data at all (a 36-byte reply)\n"
    "  --unmarked             answer with a standard, unmarked router advertisement\n"
    "  --delay MS             wait MS milliseconds before answering\n"
    "  --duplicate            answer every discover request twice\n"
    "  --copies N             answer every discover request N times\n"
    "  --no-arp-first         answer without asking for the requester's address first\n"
    "  --no-arp               never take part in ARP (neither ask nor answer): addresses that\n"
    "                         answer discover requests but nobody holds\n"
    "  --ip-options HEX       IP options in the header of every answer (a multiple of 4 bytes)\n"
    "  --zero-source          answer from 0.0.0.0 to 255.255.255.255, as no real device can\n"
    "  --gateway IP           next hop for requesters outside the device subnet\n"
    "  --prefix-length N      device subnet prefix length (default 24)\n"
    "  --record FILE|-        append every other marked solicitation, hex, one line each\n"
    "  --ready FILE           write \"ready\" to FILE (e.g. a FIFO) once listening\n"
    "  --report FILE          append \"frames N last-ns T\" (wall clock) once all answers to a\n"
    "                         request are out, for benchmarks\n";

Mac DefaultMac(std::uint32_t ip) {
    return Mac{
        0x02, 0x00, std::uint8_t(ip >> 24), std::uint8_t(ip >> 16), std::uint8_t(ip >> 8), std::uint8_t(ip)};
}

std::optional<int> ParseCount(const char* text, int low, int high) {
    const char* end = text + std::strlen(text);
    int v = 0;
    auto [stop, error] = std::from_chars(text, end, v);
    if (error != std::errc{} || stop != end || v < low || v > high)
        return std::nullopt;
    return v;
}

enum Option {
    kInterface = 256,
    kDevice,
    kDevices,
    kType,
    kBuild,
    kExtra,
    kExtraHex,
    kNoExtra,
    kUnmarked,
    kNoArpFirst,
    kNoArp,
    kIpOptions,
    kZeroSource,
    kDelay,
    kDuplicate,
    kCopies,
    kGateway,
    kPrefixLength,
    kRecord,
    kReady,
    kReport,
    kRelayFrom,
    kRelayTo
};

const option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                           {"interface", required_argument, nullptr, kInterface},
                           {"device", required_argument, nullptr, kDevice},
                           {"devices", required_argument, nullptr, kDevices},  // and COUNT after it
                           {"type", required_argument, nullptr, kType},
                           {"build", required_argument, nullptr, kBuild},
                           {"extra", required_argument, nullptr, kExtra},
                           {"extra-hex", required_argument, nullptr, kExtraHex},
                           {"no-extra", no_argument, nullptr, kNoExtra},
                           {"unmarked", no_argument, nullptr, kUnmarked},
                           {"no-arp-first", no_argument, nullptr, kNoArpFirst},
                           {"no-arp", no_argument, nullptr, kNoArp},
                           {"ip-options", required_argument, nullptr, kIpOptions},
                           {"zero-source", no_argument, nullptr, kZeroSource},
                           {"delay", required_argument, nullptr, kDelay},
                           {"duplicate", no_argument, nullptr, kDuplicate},
                           {"copies", required_argument, nullptr, kCopies},
                           {"gateway", required_argument, nullptr, kGateway},
                           {"prefix-length", required_argument, nullptr, kPrefixLength},
                           {"record", required_argument, nullptr, kRecord},
                           {"ready", required_argument, nullptr, kReady},
                           {"report", required_argument, nullptr, kReport},
                           {"relay-from", required_argument, nullptr, kRelayFrom},
                           {"relay-to", required_argument, nullptr, kRelayTo},
                           {nullptr, 0, nullptr, 0}};

// What --type, --build and the raw extra-data options gave, merged once all are read.
struct ExtraData {
    std::string type, build;
    bool haveType = false, haveBuild = false, haveRaw = false;
};

// The checks of options against each other and the extra data, once all are read.
std::string Finish(Options& o, ExtraData e) {
    if (!o.relayFrom.empty() || !o.relayTo.empty()) {
        if (o.relayFrom.empty() || o.relayTo.empty())
            return "--relay-from and --relay-to go together";
        return {};
    }
    if (o.interface.empty() || o.devices.empty())
        return "an interface and at least one device are needed";
    if (e.haveRaw && (e.haveType || e.haveBuild))
        return "--type/--build and --extra/--extra-hex/--no-extra exclude each other";
    if (!e.haveRaw) {
        std::string text;
        if (!e.haveType && !e.haveBuild) {
            e.type = "OL-SIM";
            e.build = "1.0";
            e.haveType = e.haveBuild = true;
        }
        if (e.haveType)
            text += "type:" + e.type + "\n";
        if (e.haveBuild)
            text += "build:" + e.build + "\n";
        o.extra.assign(text.begin(), text.end());
    }
    return {};
}

// One device option: --device IP[,MAC].
std::string AddDevice(Options& o, const std::string& device) {
    auto comma = device.find(',');
    auto ip = ParseIp(device.substr(0, comma));
    if (!ip)
        return "bad device address: " + device;
    Device d{*ip, DefaultMac(*ip)};
    if (comma != std::string::npos) {
        auto mac = ParseMac(device.substr(comma + 1));
        if (!mac)
            return "bad device hardware address: " + device;
        d.mac = *mac;
    }
    o.devices.push_back(d);
    return {};
}

// --devices IP COUNT.
std::string AddDevices(Options& o, const char* first, const char* count) {
    auto ip = ParseIp(first);
    if (!ip)
        return "bad first device address";
    auto n = ParseCount(count, 1, 65000);
    if (!n)
        return std::string("bad device count: ") + count;
    for (int k = 0; k < *n; ++k)
        o.devices.push_back(Device{*ip + std::uint32_t(k), DefaultMac(*ip + std::uint32_t(k))});
    return {};
}

// A number option into value: "" or "bad WHAT: text".
std::string Count(const char* text, int low, int high, const char* what, int& value) {
    auto n = ParseCount(text, low, high);
    if (!n)
        return std::string("bad ") + what + ": " + text;
    value = *n;
    return {};
}

// One option (getopt_long's c) with its argument; "" or the problem.
std::string Take(int c, const char* arg, const char* count, Options& o, ExtraData& e) {
    switch (c) {
    case kInterface:
        o.interface = arg;
        break;
    case kDevice:
        return AddDevice(o, arg);
    case kDevices:
        return AddDevices(o, arg, count);
    case kType:
        e.type = arg;
        e.haveType = true;
        break;
    case kBuild:
        e.build = arg;
        e.haveBuild = true;
        break;
    case kExtra: {
        auto bytes = Unescape(arg);
        if (!bytes)
            return "bad escape in --extra";
        o.extra = *bytes;
        e.haveRaw = true;
        break;
    }
    case kExtraHex: {
        auto bytes = ParseHex(arg);
        if (!bytes)
            return "bad hex in --extra-hex";
        o.extra = *bytes;
        e.haveRaw = true;
        break;
    }
    case kNoExtra:
        o.extra.clear();
        e.haveRaw = true;
        break;
    case kUnmarked:
        o.marked = false;
        break;
    case kNoArpFirst:
        o.arpFirst = false;
        break;
    case kNoArp:
        o.arpFirst = false;
        o.answerArp = false;
        break;
    case kIpOptions: {
        auto bytes = ParseHex(arg);
        if (!bytes || bytes->size() % 4 != 0 || bytes->size() > 40)
            return "bad --ip-options (hex, a multiple of 4 bytes, at most 40)";
        o.ipOptions = *bytes;
        break;
    }
    case kZeroSource:
        o.zeroSource = true;
        break;
    case kDelay:
        return Count(arg, 0, 600000, "delay", o.delayMs);
    case kDuplicate:
        o.copies = 2;
        break;
    case kCopies:
        return Count(arg, 1, 100, "copies", o.copies);
    case kGateway: {
        auto ip = ParseIp(arg);
        if (!ip)
            return "bad gateway address";
        o.gateway = *ip;
        break;
    }
    case kPrefixLength:
        return Count(arg, 1, 32, "prefix length", o.prefixLength);
    case kRecord:
        o.recordPath = arg;
        break;
    case kReady:
        o.readyPath = arg;
        break;
    case kReport:
        o.reportPath = arg;
        break;
    case kRelayFrom:
        o.relayFrom = arg;
        break;
    case kRelayTo:
        o.relayTo = arg;
        break;
    }
    return {};
}

}  // namespace

std::string ParseOptions(int argc, char** argv, Options& o, bool& help) {
    ExtraData extra;
    StartLongOptions();
    for (;;) {
        std::string problem;
        const int c = NextLongOption(argc, argv, kOptions, problem);
        if (c == -1) {
            if (!problem.empty())
                return problem;
            break;
        }
        if (c == 'h') {
            help = true;
            return {};
        }
        // --devices takes a second word, the count.
        const char* count = nullptr;
        if (c == kDevices) {
            if (optind >= argc)
                return "--devices needs an argument";
            count = argv[optind++];
        }
        problem = Take(c, optarg, count, o, extra);
        if (!problem.empty())
            return problem;
    }
    return Finish(o, extra);
}

int Usage(const std::string& problem, std::FILE* stream) {
    if (!problem.empty())
        std::fprintf(stream, "orvalink-sim: %s\n", problem.c_str());
    std::fputs(kUsage, stream);
    return problem.empty() ? 0 : 2;
}

}  // namespace sim
