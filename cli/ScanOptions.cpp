#include "ScanOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "formats/ScanOutput.h"
#include "engine/ScanWorker.h"
#include "net/AddressText.h"
#include "base/LongOptions.h"
#include "res/VersionBlock.h"

const char kScanUsage[] =
    "usage: oldiscovery-scan [-i IF]... [-j|--prometheus] [-o FILE] [--stream] [-w [SECONDS]]\n"
    "                        [--gone-after N] [--wait MS] [--max-time SECONDS] [--log FILE]\n"
    "                        [--state FILE [--retire-after DAYS] [--max-known N]]\n"
    "                        [--adaptive-end] [--known-end] [--fleet FILE]\n"
    "       oldiscovery-scan --state FILE [--forget MAC|IP|IP,MAC]... [--known [-j] [--fleet FILE]]\n"
    "       oldiscovery-scan --locate IP [--log FILE]\n"
    "       oldiscovery-scan -h|--help|-V|--version\n"
    "Finds Orvalink devices on the local network (one ICMP discovery run, about one second\n"
    "after the last answer, at most 5 seconds) and prints one line per device, sorted by address:\n"
    "IP address, MAC address, device type and build, separated by tabs (\"n/a\" where a device\n"
    "gave nothing; control characters in a field are written as \\t, \\n, \\r, \\\\ or \\xHH).\n"
    "Type and build are the bytes a device sent: printed as UTF-8 where they are valid UTF-8,\n"
    "otherwise each byte as its Latin-1 character, the same in both forms and in the program's list.\n"
    "  -i, --interface IF  send the request only out of IF and take only the replies that\n"
    "                 come in on it; may be given more than once (default: every interface\n"
    "                 with IPv4)\n"
    "  -j, --json     print a JSON array of {\"ip\", \"mac\", \"type\", \"build\", \"interface\"}\n"
    "                 instead (\"interface\": where the reply came in)\n"
    "  --stream       print each device's line as soon as it is known, in the order the answers\n"
    "                 came, instead of the sorted list at the end (with --json: one JSON object\n"
    "                 per line); the default for the table when standard output is a terminal\n"
    "                 (not with --json, --prometheus, --output or --watch)\n"
    "  --prometheus   print the scan in Prometheus's text format 0.0.4: orvalink_device_info,\n"
    "                 orvalink_devices, orvalink_scan_success, orvalink_scan_duration_seconds,\n"
    "                 orvalink_scan_timestamp_seconds, orvalink_scan_truncated (per interface);\n"
    "                 also when the scan fails (exit 1, 5, 6 or 8; into --output FILE also 2,\n"
    "                 an interface gone),\n"
    "                 then with orvalink_scan_success 0 and no device series\n"
    "  -o, --output FILE  write the output to FILE instead of standard output, in one step\n"
    "                 (a temporary file beside it, renamed; mode 0644): never half a file\n"
    "  -w, --watch [SECONDS]  scan every SECONDS (default 10) until SIGTERM or SIGINT, and\n"
    "                 print a JSON line per change: {\"time\", \"event\", \"interface\", \"ip\",\n"
    "                 \"mac\", \"type\", \"build\"}, event \"appeared\", \"gone\" or \"changed\"\n"
    "                 (with \"old\": {\"mac\", \"type\", \"build\"}); with --output, FILE holds the\n"
    "                 latest scan in the chosen format (--prometheus needs --output),\n"
    "                 rewritten after every scan\n"
    "  --gone-after N with --watch: a device is \"gone\" after N scans in a row without it (default 3)\n"
    "  --wait MS      end a scan after MS milliseconds without a device answer (other ICMP does\n"
    "                 not count), 100 to 5000 (default 1000),\n"
    "                 below --max-time\n"
    "  --max-time SECONDS  stop a scan SECONDS after its request however many answers are still\n"
    "                 arriving, 1 to 60 (default 5); raise it for segments of many thousands\n"
    "  --adaptive-end end a scan once no answer has come for 4 times the longest wait for one\n"
    "                 so far (the first one's from the request), at least 250 ms, at most --wait;\n"
    "                 a device answering later than that after the one before it is missed\n"
    "  --locate IP    ask the device at IP to make itself known, then exit (one device: not a\n"
    "                 broadcast, network or multicast address; no other option but --log)\n"
    "  --log FILE     write the engine's diagnostic lines, all levels, to FILE\n"
    "  --state FILE   keep the known devices in FILE (one per interface, IP and MAC, with type,\n"
    "                 build, first and last seen), read at the start and rewritten in one step\n"
    "                 after every scan that ran; with --prometheus also orvalink_device_up (1\n"
    "                 answered, 0 known but silent), orvalink_device_first_seen_timestamp_seconds\n"
    "                 and orvalink_device_last_seen_timestamp_seconds; with --watch, a restart\n"
    "                 announces only what changed since FILE was written; only the devices of\n"
    "                 the scanned interfaces miss a scan; every writer holds FILE.lock\n"
    "  --known-end    with --state: once every known device of the scanned interfaces has\n"
    "                 answered, end the scan as --adaptive-end would (one still missing keeps\n"
    "                 it to its usual end); a new device answering later than that is missed\n"
    "  --retire-after DAYS  with --state: drop a known device silent for more than DAYS days\n"
    "                 (1 to 36500, default 30), said on standard error\n"
    "  --max-known N  with --state: an interface that holds N devices (default 10000) takes no\n"
    "                 new one; one Warning a scan says how many it refused\n"
    "  --forget MAC|IP|IP,MAC  with --state: remove the devices with that MAC, that IP (every\n"
    "                 MAC on it), or that IP and MAC from FILE (no scan); prints \"forgot IF IP MAC\"\n"
    "                 per device removed\n"
    "  --known        with --state: print the known devices as a scan would, each with \"up\" or\n"
    "                 \"missing\", when last seen and the scans missed in a row (no scan)\n"
    "  --fleet FILE   the fleet file (TOML; default /etc/oldiscovery/fleet.toml when it is\n"
    "                 there): names, notes, expectations (\"always\", \"transient\", \"ignore\"),\n"
    "                 gone_after and retired per MAC, approved builds per type; with it the\n"
    "                 table gets a fifth column and JSON a field \"name\" (\"n/a\" or null for\n"
    "                 a device it does not name), --known three more columns (name, expect,\n"
    "                 approved: \"yes\", \"no\" or \"n/a\" for a type without approved builds),\n"
    "                 --prometheus a name label and orvalink_device_build_approved,\n"
    "                 orvalink_device_fleet_info, orvalink_device_gone_after_scans and\n"
    "                 orvalink_device_missed_scans; a retired device leaves --state at the next\n"
    "                 scan; the watch reads FILE again when it changes and keeps the last good\n"
    "                 version while a new one has a fault\n"
    "  -h, --help     this text\n"
    "  -V, --version  the program's name and version\n"
    "Needs raw ICMP sockets: run as root, or give the program the cap_net_raw capability\n"
    "(sudo setcap cap_net_raw+p \"$(command -v oldiscovery-scan)\").\n"
    "Exit status:\n"
    "  0  the run took place (no device found is an empty list, still 0); --watch: ended by\n"
    "     SIGTERM or SIGINT\n"
    "  1  no scan: no right to raw sockets, the socket or the engine failed\n"
    "  2  bad command line (also an unknown interface, or one that takes no broadcast)\n"
    "  3  the output could not be written (for example a full device, a missing or read-only\n"
    "     folder); an --output FILE is then left as it was\n"
    "  4  the --log file could not be opened or written\n"
    "  5  the discover or locate request could not be sent (no interface, no route, dropped)\n"
    "  6  the --state file was refused (a symbolic link, another user's, damaged, of a newer\n"
    "     version) or could not be written; it is left as it was\n"
    "  7  the scan stopped at its time limit while answers were still arriving, or the\n"
    "     receive queue overflowed and answers were lost: the devices listed were written,\n"
    "     but the list may be incomplete (see --max-time)\n"
    "  8  no scan: an interface named by --interface is down or has no IPv4 address, or one\n"
    "     the scan went out on was gone, down or made anew by its end, or its link went down\n"
    "     meanwhile (nothing of that scan is counted)\n"
    "A fault in the fleet file ends a run before its scan with exit 2 and the file, line and\n"
    "what is wrong; a watch that has read a good version goes on with it.\n";

int ScanUsage(const std::string& problem, std::FILE* stream) {
    std::fprintf(stream, "oldiscovery-scan: %s\nTry 'oldiscovery-scan --help'.\n", problem.c_str());
    return kExitUsage;
}

std::string ScanVersion() {
    const unsigned short* v = ProgramVersionBlock()->productVersion;
    return "oldiscovery-scan " + std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
           std::to_string(v[2]) + "." + std::to_string(v[3]) + "\n";
}

namespace {

using Reading = LongOptionReading<ScanOptions>;

// A whole decimal number of units from low to high (never below 1) into value, nothing else (no
// sign, no spaces); or the problem "OPTION needs a whole number of UNITS from LOW to HIGH: text".
void Number(Reading& r, const char* text, const char* option, const char* units, long low, long high,
            long& value) {
    const std::size_t digits = std::strspn(text, "0123456789");
    const long n = digits && !text[digits] && digits <= 9 ? std::atol(text) : 0;
    if (n < low || n > high)
        r.problem = std::string(option) + " needs a whole number of " + units + " from " +
                    std::to_string(low) + " to " + std::to_string(high) + ": " + text;
    else
        value = n;
}

void Watch(Reading& r, const char* seconds) {
    r.o.watch = true;
    // The number is optional: a next word that is no option is taken as it ("-5" is a number,
    // if a wrong one; "-j" an option).
    const char* next = optind < r.argc ? r.argv[optind] : nullptr;
    if (!seconds && next && (next[0] != '-' || std::isdigit(static_cast<unsigned char>(next[1])) || !next[1]))
        seconds = r.argv[optind++];
    if (seconds)
        Number(r, seconds, "--watch", "seconds", 1, 86400, r.o.watchSeconds);
}

void GoneAfter(Reading& r, const char* scans) {
    r.o.haveGoneAfter = true;
    Number(r, scans, "--gone-after", "scans", 1, 1000000, r.o.goneAfter);
}

void Output(Reading& r, const char* file) {
    if (!*file)
        r.problem = "--output needs a file name";
    else
        r.o.output = file;
}

// The MAC as the scans write it ("02:99:00:00:00:01"), or "" when text is none: six groups of
// one or two hex digits, as people shorten them.
std::string NormalMac(const std::string& text) {
    const auto bytes = ParseMac(text);
    return bytes && bytes->size() == 6 ? MacText(bytes->data(), 6) : std::string();
}

void Forget(Reading& r, const char* address) {
    const std::string text = address;
    const std::size_t comma = text.find(',');
    const std::string ip = comma == std::string::npos ? "" : text.substr(0, comma);
    const std::string mac = NormalMac(comma == std::string::npos ? text : text.substr(comma + 1));
    if (comma == std::string::npos ? !ParseIpv4(text) && mac.empty() : !ParseIpv4(ip) || mac.empty())
        r.problem = "--forget needs an IPv4 or MAC address: " + text;
    r.o.forget.push_back(comma != std::string::npos ? ip + "," + mac : mac.empty() ? text : mac);
}

void Locate(Reading& r, const char* ip) {
    r.o.locate = ip;
    r.o.haveLocate = true;
}

const LongOption<Reading> kOptions[] = {
    {"interface", required_argument, [](Reading& r, const char* a) { r.o.interfaces.push_back(a); }, 'i'},
    {"json", no_argument, [](Reading& r, const char*) { r.o.json = true; }, 'j'},
    {"prometheus", no_argument, [](Reading& r, const char*) { r.o.prometheus = true; }},
    {"output", required_argument, Output, 'o'},
    {"watch", optional_argument, Watch, 'w'},
    {"gone-after", required_argument, GoneAfter},
    {"wait", required_argument,
     [](Reading& r, const char* a) { Number(r, a, "--wait", "milliseconds", 100, 5000, r.o.waitMs); }},
    {"max-time", required_argument,
     [](Reading& r, const char* a) { Number(r, a, "--max-time", "seconds", 1, 60, r.o.maxTimeSeconds); }},
    {"stream", no_argument, [](Reading& r, const char*) { r.o.stream = true; }},
    {"adaptive-end", no_argument, [](Reading& r, const char*) { r.o.adaptiveEnd = true; }},
    {"known-end", no_argument, [](Reading& r, const char*) { r.o.knownEnd = true; }},
    {"locate", required_argument, Locate},
    {"log", required_argument, [](Reading& r, const char* a) { r.o.logFile = a; }},
    {"state", required_argument,
     [](Reading& r, const char* a) {
         if (!*a)
             r.problem = "--state needs a file name";
         r.o.stateFile = a;
     }},
    {"forget", required_argument, Forget},
    {"known", no_argument, [](Reading& r, const char*) { r.o.known = true; }},
    {"retire-after", required_argument,
     [](Reading& r, const char* a) {
         r.o.haveRetire = true;
         Number(r, a, "--retire-after", "days", 1, 36500, r.o.retireDays);
     }},
    {"max-known", required_argument,
     [](Reading& r, const char* a) {
         r.o.haveMaxKnown = true;
         Number(r, a, "--max-known", "devices", 1, 1000000, r.o.maxKnown);
     }},
    {"fleet", required_argument,
     [](Reading& r, const char* a) {
         if (!*a)
             r.problem = "--fleet needs a file name";
         r.o.fleetFile = a;
         r.o.haveFleet = true;
     }},
    {"version", no_argument, [](Reading& r, const char*) { r.o.version = r.finished = true; }, 'V'},
};

// The checks of options against each other, once all are read.
std::string Conflict(const ScanOptions& o) {
    if (o.haveLocate) {
        if (!ParseIpv4(o.locate))
            return "not an IPv4 address: " + o.locate;
        if (o.json)
            return "--json and --locate exclude each other";
        if (o.prometheus || !o.output.empty() || o.watch || o.haveGoneAfter || o.waitMs ||
            !o.interfaces.empty() || !o.stateFile.empty() || o.maxTimeSeconds || o.stream || o.adaptiveEnd ||
            o.haveFleet)
            return "--locate takes no other option than --log";
    }
    if ((!o.forget.empty() || o.known) && o.stateFile.empty())
        return o.known ? "--known needs --state FILE" : "--forget needs --state FILE";
    if ((!o.forget.empty() || o.known) && (o.prometheus || !o.output.empty() || o.watch || o.waitMs ||
                                          !o.interfaces.empty() || !o.logFile.empty() || o.maxTimeSeconds || o.stream ||
                                          o.adaptiveEnd))
        return "--forget and --known take no scan option (only --json with --known)";
    if (o.haveFleet && !o.forget.empty() && !o.known)
        return "--fleet needs a scan or --known";
    if (!o.forget.empty() && o.json && !o.known)
        return "--json needs --known with --forget";
    if (o.json && o.prometheus)
        return "--json and --prometheus exclude each other";
    if (o.stream && (o.prometheus || o.watch || !o.output.empty()))
        return "--stream writes to standard output and excludes --prometheus, --output and --watch";
    if (o.haveGoneAfter && !o.watch)
        return "--gone-after needs --watch";
    if ((o.haveRetire || o.haveMaxKnown) && (o.stateFile.empty() || !o.forget.empty() || o.known))
        return "--retire-after and --max-known need --state FILE and a scan";
    if (o.knownEnd && (o.stateFile.empty() || !o.forget.empty() || o.known))
        return "--known-end needs --state FILE and a scan";
    // The limit must leave room for the quiet wait, or any answer at all would count as one
    // still arriving when the limit ends the scan.
    const long limit =
        o.maxTimeSeconds ? o.maxTimeSeconds : static_cast<long>(CScanWorker::kScanLimit.count());
    if (o.waitMs && o.waitMs >= 1000 * limit)
        return "--wait " + std::to_string(o.waitMs) + " needs a --max-time above it (now " +
               std::to_string(limit) + " s)";
    if (o.watch && o.prometheus && o.output.empty())
        return "--watch --prometheus needs --output FILE (standard output carries the events)";
    return {};
}

}  // namespace

std::string ParseScanOptions(int argc, char** argv, ScanOptions& o, bool& help) {
    Reading reading(o, argc, argv);
    const Failure problem = ReadLongOptions(kOptions, reading, help);
    return !problem && !help && !o.version ? Conflict(o) : problem.subject;
}
