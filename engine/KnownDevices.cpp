#include "engine/KnownDevices.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "engine/DeviceWatch.h"
#include "formats/ScanOutput.h"
#include "log/DeviceText.h"

CKnownDevices::Key KnownKey(const COrvalink& d) {
    return {DeviceTextUtf8(d.m_strInterface), DeviceTextUtf8(d.m_strIP), DeviceTextUtf8(d.m_strMAC)};
}

COrvalink AsDevice(const KnownDevice& known) {
    COrvalink d;
    d.m_strInterface = known.interface;
    d.m_strIP = known.ip;
    d.m_strMAC = known.mac;
    d.m_strType = known.type;
    d.m_strBuild = known.build;
    return d;
}

bool OnScannedInterface(const std::vector<std::string>& interfaces, const std::string& name) {
    return interfaces.empty() || std::find(interfaces.begin(), interfaces.end(), name) != interfaces.end();
}

std::vector<CKnownDevices::Answer> CKnownDevices::Record(const std::vector<COrvalink>& devices, double time,
                                                         const std::vector<std::string>& interfaces) {
    std::vector<Answer> answers;
    std::set<Key> answered;
    for (const COrvalink& d : devices) {
        Key key = KnownKey(d);
        if (!answered.insert(key).second)
            continue;
        auto [it, added] = m_devices.try_emplace(key);
        KnownDevice& known = it->second;
        answers.push_back(Answer{key, added, known});
        if (added) {
            std::tie(known.interface, known.ip, known.mac) = key;
            known.firstSeen = time;
        }
        known.type = DeviceTextUtf8(d.m_strType);
        known.build = DeviceTextUtf8(d.m_strBuild);
        known.lastSeen = time;
        known.missed = 0;
    }
    // A device on a segment this scan did not ask said nothing by its silence.
    for (auto& [key, known] : m_devices)
        if (!answered.count(key) && OnScannedInterface(interfaces, known.interface))
            ++known.missed;
    return answers;
}

namespace {

bool SameAddress(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Seconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

}  // namespace

std::vector<KnownDevice> CKnownDevices::Forget(const std::string& address) {
    const std::size_t comma = address.find(',');
    const std::string ip = comma == std::string::npos ? address : address.substr(0, comma);
    const std::string mac = comma == std::string::npos ? address : address.substr(comma + 1);
    std::vector<KnownDevice> gone;
    std::erase_if(m_devices, [&](const auto& entry) {
        const KnownDevice& d = entry.second;
        const bool named = comma == std::string::npos
                               ? SameAddress(d.ip, address) || SameAddress(d.mac, address)
                               : SameAddress(d.ip, ip) && SameAddress(d.mac, mac);
        if (named)
            gone.push_back(d);
        return named;
    });
    return gone;
}

std::vector<KnownDevice> CKnownDevices::Retire(double oldest, const std::vector<std::string>& interfaces) {
    std::vector<KnownDevice> gone;
    std::erase_if(m_devices, [&](const auto& entry) {
        const KnownDevice& d = entry.second;
        const bool retired = d.lastSeen < oldest && OnScannedInterface(interfaces, d.interface);
        if (retired)
            gone.push_back(d);
        return retired;
    });
    return gone;
}

std::vector<KnownDevice> CKnownDevices::Cap(std::size_t perInterface) {
    std::map<std::string, std::vector<const KnownDevice*>> byInterface;
    for (const auto& [key, d] : m_devices)
        byInterface[d.interface].push_back(&d);
    std::vector<KnownDevice> gone;
    for (auto& [name, list] : byInterface) {
        if (list.size() <= perInterface)
            continue;
        // The longest silent go first; of devices seen at one time, the later key.
        std::stable_sort(list.begin(), list.end(), [](const KnownDevice* a, const KnownDevice* b) {
            return a->lastSeen > b->lastSeen;
        });
        for (std::size_t i = list.size(); i-- > perInterface;)
            gone.push_back(*list[i]);
    }
    for (const KnownDevice& d : gone)
        m_devices.erase({d.interface, d.ip, d.mac});
    return gone;
}

namespace {

std::string Rfc3339Seconds(double seconds) {
    return Rfc3339(
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(seconds))));
}

// The inventory as a scan's devices sorted the way a scan is, each with its entry.
std::vector<std::pair<COrvalink, const KnownDevice*>> SortedKnown(const CKnownDevices& known) {
    std::vector<COrvalink> devices;
    std::map<CKnownDevices::Key, const KnownDevice*> entries;
    for (const auto& [key, d] : known.Devices()) {
        devices.push_back(AsDevice(d));
        entries.emplace(key, &d);
    }
    SortDevices(devices);
    std::vector<std::pair<COrvalink, const KnownDevice*>> out;
    for (const COrvalink& d : devices)
        out.emplace_back(d, entries.at(KnownKey(d)));
    return out;
}

const char* State(const KnownDevice& d) {
    return d.missed == 0 ? "up" : "missing";
}

}  // namespace

std::string FormatKnownTable(const CKnownDevices& known) {
    std::string out;
    for (const auto& [device, d] : SortedKnown(known)) {
        std::string line = FormatTable({device});
        line.pop_back();
        out += line + "\t" + State(*d) + "\t" + Rfc3339Seconds(d->lastSeen) + "\t" +
               std::to_string(d->missed) + "\n";
    }
    return out;
}

std::string FormatKnownJson(const CKnownDevices& known) {
    std::string out = "[";
    const char* separator = "\n  ";
    for (const auto& [device, d] : SortedKnown(known)) {
        std::string object = FormatJsonLine(device);
        object.resize(object.size() - 2);  // the closing brace and the line feed
        out += separator + object + ", \"state\": \"" + State(*d) + "\", \"last_seen\": \"" +
               Rfc3339Seconds(d->lastSeen) + "\", \"missed\": " + std::to_string(d->missed) + "}";
        separator = ",\n  ";
    }
    return out + (known.Devices().empty() ? "]\n" : "\n]\n");
}

std::string CKnownDevices::Serialize() const {
    std::string out = "{\"format\": \"oldiscovery-known-devices\", \"version\": " + std::to_string(kVersion) +
                      ", \"devices\": [";
    const char* separator = "\n";
    for (const auto& [key, d] : m_devices) {
        out += separator;
        separator = ",\n";
        out += "{\"interface\": " + JsonText(d.interface) + ", \"ip\": " + JsonText(d.ip) +
               ", \"mac\": " + JsonText(d.mac) + ", \"type\": " + JsonText(d.type) +
               ", \"build\": " + JsonText(d.build) + ", \"first_seen\": " + Seconds(d.firstSeen) +
               ", \"last_seen\": " + Seconds(d.lastSeen) + ", \"missed\": " + std::to_string(d.missed) + "}";
    }
    return out + "\n]}\n";
}

namespace {

// A strict reader of the JSON the file holds: objects, arrays, strings, numbers, true, false,
// null. Any departure from RFC 8259 is a damaged file.
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    double number = 0;
    std::string text;  // a string's UTF-8, or the number as written
    std::vector<JsonValue> items;  // an array's values, an object's member values
    std::vector<std::string> names;  // an object's member names, one per item
    const JsonValue* Member(const char* name) const {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name)
                return &items[i];
        return nullptr;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : m_text(text) {}

    // The whole text as one value; "" or the problem with its line.
    std::string Read(JsonValue& value) {
        if (!Value(value, 0))
            return Problem();
        Space();
        if (m_at != m_text.size())
            m_error = "text after the end";
        return m_error.empty() ? "" : Problem();
    }

private:
    std::string Problem() const {
        const long line = 1 + std::count(m_text.begin(), m_text.begin() + static_cast<long>(m_at), '\n');
        return m_error + " in line " + std::to_string(line);
    }
    bool Fail(const char* what) {
        if (m_error.empty())
            m_error = what;
        return false;
    }
    void Space() {
        while (m_at < m_text.size() && std::strchr(" \t\r\n", m_text[m_at]) && m_text[m_at])
            ++m_at;
    }
    bool Take(char c) {
        Space();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool Word(const char* word) {
        const std::size_t n = std::strlen(word);
        if (m_text.compare(m_at, n, word) != 0)
            return Fail("an unknown word");
        m_at += n;
        return true;
    }
    bool Value(JsonValue& v, int depth) {
        if (depth > 8)
            return Fail("nesting too deep");
        Space();
        if (m_at >= m_text.size())
            return Fail("an unexpected end");
        const char c = m_text[m_at];
        if (c == '{')
            return Object(v, depth);
        if (c == '[')
            return Array(v, depth);
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            return String(v.text);
        }
        if (c == 't' || c == 'f') {
            v.kind = JsonValue::Kind::Bool;
            v.number = c == 't';
            return Word(c == 't' ? "true" : "false");
        }
        if (c == 'n')
            return Word("null");
        return Number(v);
    }
    bool Object(JsonValue& v, int depth) {
        v.kind = JsonValue::Kind::Object;
        ++m_at;
        if (Take('}'))
            return true;
        do {
            Space();
            std::string key;
            if (m_at >= m_text.size() || m_text[m_at] != '"' || !String(key))
                return Fail("a missing member name");
            if (!Take(':'))
                return Fail("a missing colon");
            v.names.push_back(std::move(key));
            v.items.emplace_back();
            if (!Value(v.items.back(), depth + 1))
                return false;
        } while (Take(','));
        return Take('}') || Fail("a missing closing brace");
    }
    bool Array(JsonValue& v, int depth) {
        v.kind = JsonValue::Kind::Array;
        ++m_at;
        if (Take(']'))
            return true;
        do {
            v.items.emplace_back();
            if (!Value(v.items.back(), depth + 1))
                return false;
        } while (Take(','));
        return Take(']') || Fail("a missing closing bracket");
    }
    bool Hex4(unsigned& code) {
        if (m_at + 4 > m_text.size())
            return false;
        const char* begin = m_text.data() + m_at;
        auto [end, error] = std::from_chars(begin, begin + 4, code, 16);
        m_at += 4;
        return error == std::errc() && end == begin + 4;
    }
    static void Utf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    bool String(std::string& out) {
        ++m_at;
        while (m_at < m_text.size()) {
            const unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
            if (c == '"')
                return IsUtf8(out) || Fail("a string that is not UTF-8");
            if (c < 0x20)
                return Fail("a control character in a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (m_at >= m_text.size())
                break;
            const char e = m_text[m_at++];
            static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
            if (const char* at = std::strchr(kFrom, e); at && e) {
                out += kTo[at - kFrom];
                continue;
            }
            unsigned code = 0, low = 0;
            if (e != 'u' || !Hex4(code))
                return Fail("a bad escape in a string");
            // A surrogate pair is one character; a lone half is none.
            if (code >= 0xD800 && code < 0xDC00) {
                if (m_text.compare(m_at, 2, "\\u") != 0 || (m_at += 2, !Hex4(low)) || low < 0xDC00 || low > 0xDFFF)
                    return Fail("a bad escape in a string");
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xDC00 && code < 0xE000) {
                return Fail("a bad escape in a string");
            }
            Utf8(out, code);
        }
        return Fail("an unfinished string");
    }
    bool Number(JsonValue& v) {
        const std::size_t start = m_at;
        auto digits = [&] {
            const std::size_t from = m_at;
            while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9')
                ++m_at;
            return m_at > from;
        };
        auto at = [&](const char* set) { return m_at < m_text.size() && m_text[m_at] && std::strchr(set, m_text[m_at]); };
        if (at("-"))
            ++m_at;
        const std::size_t intStart = m_at;
        if (!digits() || (m_text[intStart] == '0' && m_at - intStart > 1))
            return Fail("a bad number");
        if (at(".") && (++m_at, !digits()))
            return Fail("a bad number");
        if (at("eE")) {
            ++m_at;
            if (at("+-"))
                ++m_at;
            if (!digits())
                return Fail("a bad number");
        }
        v.kind = JsonValue::Kind::Number;
        v.text = m_text.substr(start, m_at - start);
        const auto result = std::from_chars(v.text.data(), v.text.data() + v.text.size(), v.number);
        return (result.ec == std::errc() && std::isfinite(v.number)) || Fail("a bad number");
    }

    const std::string& m_text;
    std::size_t m_at = 0;
    std::string m_error;
};

// One device of the file into d; "" or what is wrong with it.
std::string ReadDevice(const JsonValue& v, KnownDevice& d) {
    if (v.kind != JsonValue::Kind::Object)
        return "a device that is not an object";
    const struct {
        const char* name;
        std::string* field;
    } texts[] = {{"interface", &d.interface}, {"ip", &d.ip},       {"mac", &d.mac},
                 {"type", &d.type},           {"build", &d.build}};
    for (const auto& t : texts) {
        const JsonValue* m = v.Member(t.name);
        if (!m || m->kind != JsonValue::Kind::String)
            return std::string("a device without a text \"") + t.name + "\"";
        *t.field = m->text;
    }
    const struct {
        const char* name;
        double* field;
    } times[] = {{"first_seen", &d.firstSeen}, {"last_seen", &d.lastSeen}};
    for (const auto& t : times) {
        const JsonValue* m = v.Member(t.name);
        if (!m || m->kind != JsonValue::Kind::Number)
            return std::string("a device without a time \"") + t.name + "\"";
        // Seconds since 1970 up to the year 5138: every such time is written back as read.
        if (m->number < 0 || m->number >= 1e11)
            return std::string("a device with a time out of range \"") + t.name + "\"";
        *t.field = m->number;
    }
    const JsonValue* missed = v.Member("missed");
    if (!missed || missed->kind != JsonValue::Kind::Number ||
        missed->text.find_first_not_of("0123456789") != std::string::npos || missed->number > 1e15)
        return "a device without a whole number \"missed\"";
    d.missed = static_cast<unsigned long>(missed->number);
    return {};
}

}  // namespace

std::string CKnownDevices::Parse(const std::string& text) {
    JsonValue root;
    if (std::string problem = JsonReader(text).Read(root); !problem.empty())
        return "damaged: " + problem;
    const JsonValue* format = root.Member("format");
    const JsonValue* version = root.Member("version");
    if (root.kind != JsonValue::Kind::Object || !format || format->kind != JsonValue::Kind::String ||
        format->text != "oldiscovery-known-devices" || !version || version->kind != JsonValue::Kind::Number)
        return "not a known-devices file of oldiscovery-scan";
    if (version->text != std::to_string(kVersion)) {
        if (version->number > kVersion)
            return "written by a newer oldiscovery-scan (format version " + version->text + ")";
        return "damaged: unknown format version " + version->text;
    }
    const JsonValue* devices = root.Member("devices");
    if (!devices || devices->kind != JsonValue::Kind::Array)
        return "damaged: no list of devices";
    std::map<Key, KnownDevice> read;
    for (std::size_t i = 0; i < devices->items.size(); ++i) {
        KnownDevice d;
        std::string problem = ReadDevice(devices->items[i], d);
        if (problem.empty() && !read.try_emplace({d.interface, d.ip, d.mac}, d).second)
            problem = "a device listed twice";
        if (!problem.empty())
            return "damaged: " + problem + " (device " + std::to_string(i + 1) + ")";
    }
    m_devices.swap(read);
    return {};
}

std::string FormatKnownPrometheus(const CKnownDevices& known, double scanTime,
                                  const std::vector<std::string>& interfaces) {
    std::vector<const KnownDevice*> shown;
    for (const auto& [key, d] : known.Devices())
        if (std::find(interfaces.begin(), interfaces.end(), d.interface) != interfaces.end())
            shown.push_back(&d);
    auto key = [](const KnownDevice& d) {
        return "interface=\"" + PrometheusLabelValue(d.interface) + "\",ip=\"" + PrometheusLabelValue(d.ip) +
               "\",mac=\"" + PrometheusLabelValue(d.mac) + "\"";
    };
    std::string out =
        "# HELP orvalink_device_up Whether a known Orvalink device answered the scan (1) or not (0), with "
        "its type and build as last seen.\n"
        "# TYPE orvalink_device_up gauge\n";
    for (const KnownDevice* d : shown)
        out += "orvalink_device_up{" + key(*d) + ",type=\"" + PrometheusLabelValue(d->type) + "\",build=\"" +
               PrometheusLabelValue(d->build) + "\"} " + (d->lastSeen == scanTime ? "1" : "0") + "\n";
    const struct {
        const char* name;
        const char* help;
        double KnownDevice::*time;
    } times[] = {
        {"orvalink_device_first_seen_timestamp_seconds",
         "When a known Orvalink device first answered, in seconds since the Unix epoch.", &KnownDevice::firstSeen},
        {"orvalink_device_last_seen_timestamp_seconds",
         "When a known Orvalink device last answered, in seconds since the Unix epoch.", &KnownDevice::lastSeen},
    };
    for (const auto& t : times) {
        out += std::string("# HELP ") + t.name + " " + t.help + "\n# TYPE " + t.name + " gauge\n";
        for (const KnownDevice* d : shown)
            out += std::string(t.name) + "{" + key(*d) + "} " + Seconds(d->*t.time) + "\n";
    }
    return out;
}
