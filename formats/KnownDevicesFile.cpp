#include "formats/KnownDevicesFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <map>
#include <string_view>

#include <nlohmann/json.hpp>

#include "formats/ScanOutput.h"

std::string KnownDevicesText(const CKnownDevices& known) {
    std::string out =
        "{\"format\": \"oldiscovery-known-devices\", \"version\": " + std::to_string(kKnownDevicesVersion) +
        ", \"devices\": [";
    const char* separator = "\n";
    for (const auto& [key, d] : known.Devices()) {
        out += separator;
        separator = ",\n";
        out += "{\"interface\": " + JsonText(d.interface) + ", \"ip\": " + JsonText(d.ip) +
               ", \"mac\": " + JsonText(d.mac) + ", \"type\": " + JsonText(d.type) +
               ", \"build\": " + JsonText(d.build) + ", \"first_seen\": " + SecondsText(d.firstSeen) +
               ", \"last_seen\": " + SecondsText(d.lastSeen) + ", \"missed\": " + std::to_string(d.missed) +
               "}";
    }
    return out + "\n]}\n";
}

namespace {

using Json = nlohmann::json;

constexpr std::array<const char*, 8> kMembers = {"interface", "ip",         "mac",       "type",
                                                 "build",     "first_seen", "last_seen", "missed"};

// A value as the inventory takes it: what it is and, for a text or a number, its text as written.
struct Value {
    enum Kind { Missing, Other, Text, Number, Object, Array } kind = Missing;
    std::string text;
};

// The line of the character at (at the end, the line the end is in).
std::string InLine(std::string_view text, std::size_t at) {
    return " in line " +
           std::to_string(1 + std::count(text.begin(), text.begin() + std::min(at, text.size()), '\n'));
}

// Takes from the parser's events what the inventory needs: the root's "format", "version" and
// "devices" and each device as soon as it is whole, the first of a name given twice. A read costs
// the devices it keeps, not every value of the file, and a number keeps its text as written.
class CFileReader {
public:
    explicit CFileReader(std::string_view text) : m_text(text) {}

    Value root, format, version, list;
    std::map<CKnownDevices::Key, KnownDevice> devices;
    std::string problem;  // where the text is no JSON, or the first device refused

    bool null() { return Take({Value::Other, {}}); }
    bool boolean(bool) { return Take({Value::Other, {}}); }
    bool number_integer(Json::number_integer_t n) { return Take({Value::Number, std::to_string(n)}); }
    bool number_unsigned(Json::number_unsigned_t n) { return Take({Value::Number, std::to_string(n)}); }
    bool number_float(Json::number_float_t, const std::string& text) { return Take({Value::Number, text}); }
    bool string(std::string& text) { return Take({Value::Text, std::move(text)}); }
    bool binary(Json::binary_t&) { return Take({Value::Other, {}}); }
    bool key(std::string& name) { return m_key = std::move(name), true; }
    bool start_object(std::size_t) { return Take({Value::Object, {}}); }
    bool start_array(std::size_t) { return Take({Value::Array, {}}); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }

    // Why the parser stopped, told from what was read, where it stopped and the error's id (its
    // message may change between releases). byte is one past the character it stopped at.
    bool parse_error(std::size_t byte, const std::string&, const Json::exception& error) {
        problem = root.kind != Value::Missing && m_depth == 0 ? "text after the end"
                  : byte > m_text.size()                      ? "an unexpected end"
                  : error.id == 406                           ? "a number out of range"
                                                              : "not valid JSON";
        problem += InLine(m_text, byte - 1);
        return false;
    }

private:
    // The value that starts now, kept where the inventory reads it. The containers open that have
    // a role are the outermost m_roles of them: the root object, its list, a device in the list.
    bool Take(Value&& v) {
        const bool open = v.kind == Value::Object || v.kind == Value::Array;
        Value* slot = nullptr;
        bool role = false;  // whether v opens the next of them
        if (m_depth == m_roles && m_depth == 0) {
            slot = &root, role = v.kind == Value::Object;
        } else if (m_depth == m_roles && m_depth == 1) {
            slot = m_key == "format"    ? &format
                   : m_key == "version" ? &version
                   : m_key == "devices" ? &list
                                        : nullptr;
            role = slot == &list && list.kind == Value::Missing && v.kind == Value::Array;
        } else if (m_depth == m_roles && m_depth == 2) {
            ++m_count, m_members = {}, role = v.kind == Value::Object;
            Refuse(role ? "" : "a device that is not an object");
        } else if (m_depth == m_roles && m_depth == 3) {
            const auto at = std::find(kMembers.begin(), kMembers.end(), m_key);
            if (at != kMembers.end())
                slot = &m_members[static_cast<std::size_t>(at - kMembers.begin())];
        }
        if (slot && slot->kind == Value::Missing)
            *slot = std::move(v);
        m_depth += open, m_roles += role;
        return true;
    }
    bool Close() {
        if (m_depth == 3 && m_roles == 3)
            Refuse(ReadDevice());
        m_roles -= m_roles == m_depth, --m_depth;
        return true;
    }
    // The device just read into devices; "" or what is wrong with it.
    std::string ReadDevice() {
        KnownDevice d;
        std::string* const texts[] = {&d.interface, &d.ip, &d.mac, &d.type, &d.build};
        for (std::size_t i = 0; i < std::size(texts); ++i) {
            if (m_members[i].kind != Value::Text)
                return std::string("a device without a text \"") + kMembers[i] + "\"";
            *texts[i] = m_members[i].text;
        }
        for (std::size_t i = 5; i < 7; ++i) {
            double& time = i == 5 ? d.firstSeen : d.lastSeen;
            const std::string& t = m_members[i].text;
            if (m_members[i].kind != Value::Number)
                return std::string("a device without a time \"") + kMembers[i] + "\"";
            // Every time is written back as read: one that reads as no double is out of range too.
            if (std::from_chars(t.data(), t.data() + t.size(), time).ec != std::errc() ||
                !(time >= 0 && time < kKnownDevicesLatestTime))
                return std::string("a device with a time out of range \"") + kMembers[i] + "\"";
        }
        const std::string& m = m_members[7].text;
        const auto read = std::from_chars(m.data(), m.data() + m.size(), d.missed);
        if (m_members[7].kind != Value::Number || read.ec != std::errc() || read.ptr != m.data() + m.size() ||
            d.missed > 1e15)
            return "a device without a whole number \"missed\"";
        return devices.try_emplace({d.interface, d.ip, d.mac}, d).second ? "" : "a device listed twice";
    }
    void Refuse(const std::string& fault) {
        if (problem.empty() && !fault.empty())
            problem = fault + " (device " + std::to_string(m_count) + ")";
    }

    std::string_view m_text;
    std::size_t m_depth = 0, m_roles = 0;          // the containers open, and those with a role
    std::size_t m_count = 0;                       // the devices so far
    std::string m_key;                             // the name of the value that starts next in an object
    std::array<Value, kMembers.size()> m_members;  // of the device being read
};

}  // namespace

Failure ReadKnownDevices(const std::string& text, CKnownDevices& known) {
    if (text.size() > kKnownDevicesMaxBytes)
        return ErrnoFailure(EFBIG);
    // The parser passes a byte order mark over, and takes a NUL byte after the value for the end.
    if (text.starts_with("\xEF\xBB\xBF"))
        return Failure(Errc::DamagedFile, "a byte order mark in line 1");
    CFileReader file(text);
    if (!Json::sax_parse(text.begin(), text.end(), &file))
        return Failure(Errc::DamagedFile, file.problem);
    if (const std::size_t nul = text.find('\0'); nul != text.npos)
        return Failure(Errc::DamagedFile, "text after the end" + InLine(text, nul));
    if (file.root.kind != Value::Object || file.format.kind != Value::Text ||
        file.format.text != "oldiscovery-known-devices" || file.version.kind != Value::Number)
        return Failure(Errc::NotKnownDevicesFile);
    const std::string& v = file.version.text;
    double version = 0;
    std::from_chars(v.data(), v.data() + v.size(), version);
    if (v != std::to_string(kKnownDevicesVersion))
        return version > kKnownDevicesVersion ? Failure(Errc::NewerFormat, v)
                                              : Failure(Errc::DamagedFile, "unknown format version " + v);
    if (file.list.kind != Value::Array)
        return Failure(Errc::DamagedFile, "no list of devices");
    if (!file.problem.empty())
        return Failure(Errc::DamagedFile, file.problem);
    known.Devices().swap(file.devices);
    return {};
}
