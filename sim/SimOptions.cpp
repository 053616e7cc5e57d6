#include "SimOptions.h"

#include <charconv>
#include <cstring>
#include <optional>

#include "base/LongOptions.h"

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
    "  --repeat MS            send every answer again every MS milliseconds, without end: a\n"
    "                         segment whose answers keep arriving\n"
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

// The command line as it is read, with what --type, --build and the raw extra-data options gave:
// merged once all are read.
struct Reading : LongOptionReading<Options> {
    using LongOptionReading::LongOptionReading;
    std::optional<std::string> type, build;
    bool haveRaw = false;
};

// The checks of options against each other and the extra data, once all are read.
std::string Finish(Reading& r) {
    Options& o = r.o;
    if (!o.relayFrom.empty() || !o.relayTo.empty())
        return o.relayFrom.empty() || o.relayTo.empty() ? "--relay-from and --relay-to go together" : "";
    if (o.interface.empty() || o.devices.empty())
        return "an interface and at least one device are needed";
    if (r.haveRaw && (r.type || r.build))
        return "--type/--build and --extra/--extra-hex/--no-extra exclude each other";
    if (!r.haveRaw) {
        if (!r.type && !r.build) {
            r.type = "OL-SIM";
            r.build = "1.0";
        }
        std::string text;
        if (r.type)
            text += "type:" + *r.type + "\n";
        if (r.build)
            text += "build:" + *r.build + "\n";
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

// --devices IP COUNT: the count is the word after the option's own.
std::string AddDevices(Reading& r, const char* first) {
    if (optind >= r.argc)
        return "--devices needs an argument";
    const char* count = r.argv[optind++];
    auto ip = ParseIp(first);
    if (!ip)
        return "bad first device address";
    auto n = ParseCount(count, 1, 65000);
    if (!n)
        return std::string("bad device count: ") + count;
    for (int k = 0; k < *n; ++k)
        r.o.devices.push_back(Device{*ip + std::uint32_t(k), DefaultMac(*ip + std::uint32_t(k))});
    return {};
}

// A parsed value into value, or the problem when it could not be parsed.
template <typename T>
void Take(Reading& r, const std::optional<T>& parsed, T& value, const std::string& problem) {
    if (parsed)
        value = *parsed;
    else
        r.problem = problem;
}

// A number from low to high into value, or the problem "bad WHAT: text".
void Count(Reading& r, const char* text, int low, int high, const char* what, int& value) {
    Take(r, ParseCount(text, low, high), value, std::string("bad ") + what + ": " + text);
}

// IP options: hex, whole 32-bit words, at most 40 bytes.
void TakeIpOptions(Reading& r, const char* text) {
    auto bytes = ParseHex(text);
    if (bytes && (bytes->size() % 4 != 0 || bytes->size() > 40))
        bytes.reset();
    Take(r, bytes, r.o.ipOptions, "bad --ip-options (hex, a multiple of 4 bytes, at most 40)");
}

void TakeRawExtra(Reading& r, const std::optional<Bytes>& bytes, const char* problem) {
    Take(r, bytes, r.o.extra, problem);
    r.haveRaw = true;
}

const LongOption<Reading> kOptions[] = {
    {"interface", required_argument, [](Reading& r, const char* a) { r.o.interface = a; }},
    {"device", required_argument, [](Reading& r, const char* a) { r.problem = AddDevice(r.o, a); }},
    {"devices", required_argument, [](Reading& r, const char* a) { r.problem = AddDevices(r, a); }},
    {"type", required_argument, [](Reading& r, const char* a) { r.type = a; }},
    {"build", required_argument, [](Reading& r, const char* a) { r.build = a; }},
    {"extra", required_argument,
     [](Reading& r, const char* a) { TakeRawExtra(r, Unescape(a), "bad escape in --extra"); }},
    {"extra-hex", required_argument,
     [](Reading& r, const char* a) { TakeRawExtra(r, ParseHex(a), "bad hex in --extra-hex"); }},
    {"no-extra", no_argument, [](Reading& r, const char*) { TakeRawExtra(r, Bytes{}, ""); }},
    {"unmarked", no_argument, [](Reading& r, const char*) { r.o.marked = false; }},
    {"no-arp-first", no_argument, [](Reading& r, const char*) { r.o.arpFirst = false; }},
    {"no-arp", no_argument, [](Reading& r, const char*) { r.o.arpFirst = r.o.answerArp = false; }},
    {"ip-options", required_argument, TakeIpOptions},
    {"zero-source", no_argument, [](Reading& r, const char*) { r.o.zeroSource = true; }},
    {"delay", required_argument,
     [](Reading& r, const char* a) { Count(r, a, 0, 600000, "delay", r.o.delayMs); }},
    {"repeat", required_argument,
     [](Reading& r, const char* a) { Count(r, a, 1, 600000, "repeat", r.o.repeatMs); }},
    {"duplicate", no_argument, [](Reading& r, const char*) { r.o.copies = 2; }},
    {"copies", required_argument,
     [](Reading& r, const char* a) { Count(r, a, 1, 100, "copies", r.o.copies); }},
    {"gateway", required_argument,
     [](Reading& r, const char* a) { Take(r, ParseIp(a), r.o.gateway, "bad gateway address"); }},
    {"prefix-length", required_argument,
     [](Reading& r, const char* a) { Count(r, a, 1, 32, "prefix length", r.o.prefixLength); }},
    {"record", required_argument, [](Reading& r, const char* a) { r.o.recordPath = a; }},
    {"ready", required_argument, [](Reading& r, const char* a) { r.o.readyPath = a; }},
    {"report", required_argument, [](Reading& r, const char* a) { r.o.reportPath = a; }},
    {"relay-from", required_argument, [](Reading& r, const char* a) { r.o.relayFrom = a; }},
    {"relay-to", required_argument, [](Reading& r, const char* a) { r.o.relayTo = a; }},
};

}  // namespace

std::string ParseOptions(int argc, char** argv, Options& o, bool& help) {
    Reading reading(o, argc, argv);
    const Failure problem = ReadLongOptions(kOptions, reading, help);
    return !problem && !help ? Finish(reading) : problem.subject;
}

int Usage(const std::string& problem, std::FILE* stream) {
    if (!problem.empty())
        std::fprintf(stream, "orvalink-sim: %s\n", problem.c_str());
    std::fputs(kUsage, stream);
    return problem.empty() ? 0 : 2;
}

}  // namespace sim
