#include "formats/KnownDevicesFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <map>
#include <string_view>
#include <vector>

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
    enum Kind { Missing, Other, Text, Number, Array, Object } kind = Missing;
    std::string text;
};

// One device of the file into d; "" or what is wrong with it.
std::string ReadDevice(const std::array<Value, kMembers.size()>& v, KnownDevice& d) {
    std::string* const texts[] = {&d.interface, &d.ip, &d.mac, &d.type, &d.build};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        if (v[i].kind != Value::Text)
            return std::string("a device without a text \"") + kMembers[i] + "\"";
        *texts[i] = v[i].text;
    }
    for (std::size_t i = 5; i < 7; ++i) {
        double& time = i == 5 ? d.firstSeen : d.lastSeen;
        if (v[i].kind != Value::Number)
            return std::string("a device without a time \"") + kMembers[i] + "\"";
        // Every time is written back as read: one that reads as no double is out of range too.
        const std::string& t = v[i].text;
        if (std::from_chars(t.data(), t.data() + t.size(), time).ec != std::errc() ||
            !(time >= 0 && time < kKnownDevicesLatestTime))
            return std::string("a device with a time out of range \"") + kMembers[i] + "\"";
    }
    const std::string& m = v[7].text;
    unsigned long long missed = 0;
    const auto read = std::from_chars(m.data(), m.data() + m.size(), missed);
    if (v[7].kind != Value::Number || read.ec != std::errc() || read.ptr != m.data() + m.size() ||
        missed > 1e15)
        return "a device without a whole number \"missed\"";
    d.missed = static_cast<unsigned long>(missed);
    return {};
}

// The line of the character at (at the end, the line the end is in).
std::string InLine(std::string_view text, std::size_t at) {
    return " in line " +
           std::to_string(1 + std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
}

// Takes from the parser's events what the inventory needs: the root's "format", "version" and
// "devices" and each device as soon as it is whole, the first of a name given twice. A read costs
// the devices it keeps, not every value of the file, and a number keeps its text as written.
class CFileReader {
public:
    explicit CFileReader(std::string_view text) : m_text(text) {}

    Value root, format, version, list;
    std::size_t count = 0;    // the devices so far
    std::string deviceFault;  // of the first device refused, with its number
    std::map<CKnownDevices::Key, KnownDevice> devices;
    std::string problem;  // a text that is no JSON: what is wrong, in which line

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

    // Where the parser stopped, in the project's words. byte is one past the character it stopped
    // at (one past the text at its end); token is what it had read of the token it stopped in.
    bool parse_error(std::size_t byte, const std::string& token, const Json::exception& error) {
        const std::size_t at = std::clamp<std::size_t>(byte, 1, m_text.size() + 1) - 1;
        const auto letter = [this](std::size_t i) {
            return i < m_text.size() && std::isalpha(static_cast<unsigned char>(m_text[i]));
        };
        const unsigned char c = at < m_text.size() ? static_cast<unsigned char>(m_text[at]) : 0;
        // What the parser read since the last string or number: in a string it stopped at the
        // first character it refused.
        bool string = token.starts_with('"');
        for (std::size_t k = 1; string && k + 1 < token.size(); ++k)
            string = token[k] != '"' || token[k - 1] == '\\';
        const bool escape =
            m_text.substr(at < 7 ? 0 : at - 7, std::min<std::size_t>(at, 7)).find('\\') != m_text.npos;
        // A number the parser stopped in, or a whole one right after a digit ("01" ends at its
        // zero); in front of a word the parser leaves more than the word's token.
        const std::size_t start = at + 1 - std::min(token.size(), at + 1);
        double value = 0;
        const bool number = token.find_first_of("-0123456789") == 0 &&
                            token.find_first_not_of("0123456789+-.eE") >= token.size() - 1 &&
                            (std::from_chars(token.data(), token.data() + token.size(), value).ptr !=
                                 token.data() + token.size() ||
                             (start > 0 && std::isdigit(static_cast<unsigned char>(m_text[start - 1]))));
        const char* what = m_done                                      ? "text after the end"
                           : at == m_text.size()                       ? (string                 ? "an unfinished string"
                                                                          : m_open.empty()       ? "an unexpected end"
                                                                          : m_open.back().object ? "a missing closing brace"
                                                                                                 : "a missing closing bracket")
                           : string && c < 0x20                        ? "a control character in a string"
                           : string && escape                          ? "a bad escape in a string"
                           : string && !(token.size() > 1 && c == '"') ? "a string that is not UTF-8"
                           : error.id == 406 || number                 ? "a bad number"
                           : letter(at) || (!string && at > 0 && letter(at - 1)) ? "an unknown word"
                                                                                 : "an unexpected character";
        problem = what + InLine(m_text, at);
        return false;
    }

private:
    enum class Role { None, Root, List, Device };

    // The value that starts now, kept where the inventory needs it.
    bool Take(Value&& v) {
        const Role parent = m_open.empty() ? Role::None : m_open.back().role;
        Role role = Role::None;
        Value* slot = nullptr;
        if (m_open.empty()) {
            slot = &root, role = Role::Root;
        } else if (parent == Role::Root) {
            slot = m_key == "format"    ? &format
                   : m_key == "version" ? &version
                   : m_key == "devices" ? &list
                                        : nullptr;
            role = slot == &list && list.kind == Value::Missing ? Role::List : Role::None;
        } else if (parent == Role::List) {
            ++count, m_members = {}, role = Role::Device;
        } else if (parent == Role::Device) {
            const auto at = std::find(kMembers.begin(), kMembers.end(), m_key);
            slot =
                at == kMembers.end() ? nullptr : &m_members[static_cast<std::size_t>(at - kMembers.begin())];
        }
        const Value::Kind kind = v.kind;
        if (slot && slot->kind == Value::Missing)
            *slot = std::move(v);
        if (role == Role::Device && kind != Value::Object)
            Refuse("a device that is not an object");
        if (kind != (role == Role::List ? Value::Array : Value::Object))
            role = Role::None;
        if (kind == Value::Array || kind == Value::Object)
            m_open.push_back({kind == Value::Object, role});
        m_done = m_open.empty();
        return true;
    }
    bool Close() {
        if (m_open.back().role == Role::Device) {
            KnownDevice d;
            if (std::string fault = ReadDevice(m_members, d); !fault.empty())
                Refuse(fault);
            else if (!devices.try_emplace({d.interface, d.ip, d.mac}, d).second)
                Refuse("a device listed twice");
        }
        m_open.pop_back();
        m_done = m_open.empty();
        return true;
    }
    void Refuse(const std::string& fault) {
        if (deviceFault.empty())
            deviceFault = fault + " (device " + std::to_string(count) + ")";
    }

    struct Open {
        bool object;
        Role role;
    };
    std::string_view m_text;
    std::vector<Open> m_open;                      // the containers open, innermost last
    bool m_done = false;                           // the whole value is read: anything but space is too much
    std::string m_key;                             // the name of the value that starts next in an object
    std::array<Value, kMembers.size()> m_members;  // of the device being read
};

}  // namespace

Failure ReadKnownDevices(const std::string& text, CKnownDevices& known) {
    if (text.size() > kKnownDevicesMaxBytes)
        return ErrnoFailure(EFBIG);
    // The parser passes a byte order mark over and takes a NUL byte for the end of the text; the
    // file has neither.
    if (text.starts_with("\xEF\xBB\xBF"))
        return Failure(Errc::DamagedFile, "a byte order mark in line 1");
    const std::string_view json = std::string_view(text).substr(0, text.find('\0'));
    CFileReader file(json);
    if (!Json::sax_parse(json.begin(), json.end(), &file))
        return Failure(Errc::DamagedFile, file.problem);
    if (json.size() < text.size())
        return Failure(Errc::DamagedFile, "text after the end" + InLine(text, json.size()));
    if (file.root.kind != Value::Object || file.format.kind != Value::Text ||
        file.format.text != "oldiscovery-known-devices" || file.version.kind != Value::Number)
        return Failure(Errc::NotKnownDevicesFile);
    if (const std::string& v = file.version.text; v != std::to_string(kKnownDevicesVersion)) {
        double number = 0;
        std::from_chars(v.data(), v.data() + v.size(), number);
        if (number > kKnownDevicesVersion)
            return Failure(Errc::NewerFormat, v);
        return Failure(Errc::DamagedFile, "unknown format version " + v);
    }
    if (file.list.kind != Value::Array)
        return Failure(Errc::DamagedFile, "no list of devices");
    if (!file.deviceFault.empty())
        return Failure(Errc::DamagedFile, file.deviceFault);
    known.Devices().swap(file.devices);
    return {};
}
