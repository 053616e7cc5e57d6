#include "formats/KnownDevicesFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
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

// A value as the inventory takes it: a text, or a number with its text as written.
struct Value {
    enum class Kind { Other, Text, Number } kind = Kind::Other;
    std::string text;
    double number = 0;
};

// One device of the file into d; "" or what is wrong with it.
std::string ReadDevice(const std::array<std::optional<Value>, kMembers.size()>& v, KnownDevice& d) {
    std::string* const texts[] = {&d.interface, &d.ip, &d.mac, &d.type, &d.build};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        if (!v[i] || v[i]->kind != Value::Kind::Text)
            return std::string("a device without a text \"") + kMembers[i] + "\"";
        *texts[i] = v[i]->text;
    }
    double* const times[] = {&d.firstSeen, &d.lastSeen};
    for (std::size_t i = 0; i < std::size(times); ++i) {
        const auto& m = v[std::size(texts) + i];
        const char* name = kMembers[std::size(texts) + i];
        if (!m || m->kind != Value::Kind::Number)
            return std::string("a device without a time \"") + name + "\"";
        // Every time is written back as read: one that reads as no double is out of range too.
        double time = 0;
        const auto read = std::from_chars(m->text.data(), m->text.data() + m->text.size(), time);
        if (read.ec != std::errc() || !(time >= 0 && time < kKnownDevicesLatestTime))
            return std::string("a device with a time out of range \"") + name + "\"";
        *times[i] = time;
    }
    const auto& missed = v.back();
    if (!missed || missed->kind != Value::Kind::Number ||
        missed->text.find_first_not_of("0123456789") != std::string::npos || missed->number > 1e15)
        return "a device without a whole number \"missed\"";
    d.missed = static_cast<unsigned long>(missed->number);
    return {};
}

// Takes from the parser's events what the inventory needs: the root's "format", "version" and
// "devices", and each device as soon as it is whole, so that a read costs the devices it keeps
// and not every value of the file. Not a parsed json value: that would keep the last of two
// keys and lose how a number was written.
class CFileReader {
public:
    explicit CFileReader(std::string_view text) : m_text(text) {}

    bool rootObject = false;
    std::optional<Value> format, version;
    bool devicesArray = false;
    std::size_t deviceCount = 0;
    std::string deviceProblem;  // of the first device refused, with its number
    std::map<CKnownDevices::Key, KnownDevice> devices;
    std::string problem;  // a text that is no JSON: what is wrong, in which line

    bool null() { return Scalar({}); }
    bool boolean(bool) { return Scalar({}); }
    bool number_integer(Json::number_integer_t n) {
        return Scalar({Value::Kind::Number, std::to_string(n), double(n)});
    }
    bool number_unsigned(Json::number_unsigned_t n) {
        return Scalar({Value::Kind::Number, std::to_string(n), double(n)});
    }
    bool number_float(Json::number_float_t n, const std::string& text) {
        return Scalar({Value::Kind::Number, text, n});
    }
    bool string(std::string& text) { return Scalar({Value::Kind::Text, std::move(text), 0}); }
    bool binary(Json::binary_t&) { return Scalar({}); }
    bool key(std::string& name) {
        (m_objects.size() == 1 ? m_rootKey : m_deviceKey) = std::move(name);
        return true;
    }
    bool start_object(std::size_t) { return Open(true); }
    bool start_array(std::size_t) { return Open(false); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }

    // The parser's error in the project's words. byte is the parse_error's byte: one past the
    // character the parser stopped at, one past the text when the text ended; token is what the
    // parser had read of the token it stopped in.
    bool parse_error(std::size_t byte, const std::string& token, const Json::exception& error) {
        const std::size_t at = std::min(std::max<std::size_t>(byte, 1), m_text.size() + 1) - 1;
        const unsigned char c = at < m_text.size() ? static_cast<unsigned char>(m_text[at]) : 0;
        const auto letter = [](unsigned char x) { return std::isalpha(x) != 0; };
        const bool escape =
            m_text.substr(at < 7 ? 0 : at - 7, std::min<std::size_t>(at, 7)).find('\\') != m_text.npos;
        // What the parser read of a string or a number it stopped in; in front of a word or a
        // character out of place it leaves what it read before.
        bool inString = token.starts_with('"');
        for (std::size_t k = 1; inString && k + 1 < token.size(); ++k)
            inString = token[k] != '"' || token[k - 1] == '\\';
        const std::size_t notNumber = token.find_first_not_of("0123456789+-.eE");
        const bool number = !token.empty() && std::strchr("-0123456789", token[0]) &&
                            (notNumber == std::string::npos || notNumber + 1 == token.size());
        const std::size_t start = at + 1 >= token.size() ? at + 1 - token.size() : 0;
        double value = 0;
        const bool wholeNumber =
            number && std::from_chars(token.data(), token.data() + token.size(), value).ptr ==
                          token.data() + token.size();
        const char* what = "an unexpected character";
        if (m_objects.empty() && m_done)
            what = "text after the end";
        else if (at == m_text.size())
            what = inString            ? "an unfinished string"
                   : m_objects.empty() ? "an unexpected end"
                   : m_objects.back()  ? "a missing closing brace"
                                       : "a missing closing bracket";
        else if (inString && c < 0x20)
            what = "a control character in a string";
        else if (inString && escape)
            what = "a bad escape in a string";
        else if (inString && !(token.size() > 1 && c == '"'))
            what = "a string that is not UTF-8";
        else if (error.id == 406 ||
                 (number && (!wholeNumber ||
                             (start > 0 && std::isdigit(static_cast<unsigned char>(m_text[start - 1]))))))
            what = "a bad number";  // "01" ends at its zero: a number right after it is its rest
        else if (letter(c) || (at > 0 && letter(m_text[at - 1]) && !inString))
            what = "an unknown word";
        problem = std::string(what) + InLine(m_text, at);
        return false;
    }

    // The line of the character at (at the end, the line the end is in).
    static std::string InLine(std::string_view text, std::size_t at) {
        return " in line " +
               std::to_string(1 + std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
    }

private:
    // Where the value read last goes.
    void Take(Value&& value, bool container, bool object) {
        const std::size_t depth = m_objects.size();
        if (depth == 0) {
            rootObject = object;
        } else if (depth == 1 && rootObject) {
            if (m_rootKey == "format" && !format)
                format = std::move(value);
            else if (m_rootKey == "version" && !version)
                version = std::move(value);
            else if (m_rootKey == "devices" && !m_devicesSeen)
                m_devicesSeen = true, devicesArray = m_inDevices = container && !object;
        } else if (depth == 2 && m_inDevices) {
            ++deviceCount;
            m_members = {};
            m_inDevice = object;
            if (!object)
                Refuse("a device that is not an object");
        } else if (depth == 3 && m_inDevice) {
            const auto at = std::find(kMembers.begin(), kMembers.end(), m_deviceKey);
            if (at != kMembers.end() && !m_members[at - kMembers.begin()])
                m_members[at - kMembers.begin()] = std::move(value);
        }
    }
    bool Scalar(Value&& value) {
        Take(std::move(value), false, false);
        m_done = m_objects.empty();
        return true;
    }
    bool Open(bool object) {
        Take({}, true, object);
        m_objects.push_back(object);
        return true;
    }
    bool Close() {
        m_objects.pop_back();
        if (m_objects.size() == 1)
            m_inDevices = false;
        if (m_objects.size() == 2 && m_inDevice) {
            m_inDevice = false;
            KnownDevice d;
            if (std::string fault = ReadDevice(m_members, d); !fault.empty())
                Refuse(fault);
            else if (!devices.try_emplace({d.interface, d.ip, d.mac}, d).second)
                Refuse("a device listed twice");
        }
        m_done = m_objects.empty();
        return true;
    }
    void Refuse(const std::string& fault) {
        if (deviceProblem.empty())
            deviceProblem = fault + " (device " + std::to_string(deviceCount) + ")";
    }

    std::string_view m_text;
    std::vector<bool> m_objects;  // the open containers, innermost last: true for an object
    bool m_done = false;          // the whole value is read: anything but space is too much
    std::string m_rootKey, m_deviceKey;
    bool m_devicesSeen = false, m_inDevices = false, m_inDevice = false;
    std::array<std::optional<Value>, kMembers.size()> m_members;  // of a name given twice, the first
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
        return Failure(Errc::DamagedFile, "text after the end" + CFileReader::InLine(text, json.size()));
    if (!file.rootObject || !file.format || file.format->kind != Value::Kind::Text ||
        file.format->text != "oldiscovery-known-devices" || !file.version ||
        file.version->kind != Value::Kind::Number)
        return Failure(Errc::NotKnownDevicesFile);
    if (file.version->text != std::to_string(kKnownDevicesVersion)) {
        if (file.version->number > kKnownDevicesVersion)
            return Failure(Errc::NewerFormat, file.version->text);
        return Failure(Errc::DamagedFile, "unknown format version " + file.version->text);
    }
    if (!file.devicesArray)
        return Failure(Errc::DamagedFile, "no list of devices");
    if (!file.deviceProblem.empty())
        return Failure(Errc::DamagedFile, file.deviceProblem);
    known.Devices().swap(file.devices);
    return {};
}
