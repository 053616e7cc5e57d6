#include "formats/KnownDevicesFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>
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

// The text as the parser reads it, noting how far it got: a refusal the reader makes itself (a
// value nested too deep, a number out of range) names the line of the value, as the parser's own
// errors do.
class CTrackedText {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CTrackedText(const std::string& text, std::size_t at, std::size_t* read)
        : m_text(&text), m_at(at), m_read(read) {}
    reference operator*() const {
        *m_read = std::max(*m_read, m_at + 1);
        return (*m_text)[m_at];
    }
    CTrackedText& operator++() {
        ++m_at;
        return *this;
    }
    CTrackedText operator++(int) {
        CTrackedText before = *this;
        ++m_at;
        return before;
    }
    bool operator==(const CTrackedText& other) const { return m_at == other.m_at; }

private:
    const std::string* m_text;
    std::size_t m_at;
    std::size_t* m_read;
};

// What the inventory takes of a value: a text, or a number with its text as written.
struct Value {
    enum class Kind { Other, Text, Number } kind = Kind::Other;
    std::string text;
    double number = 0;
};

constexpr std::array<const char*, 8> kMembers = {"interface", "ip",         "mac",       "type",
                                                 "build",     "first_seen", "last_seen", "missed"};

struct DeviceValues {
    bool object = false;
    std::array<std::optional<Value>, kMembers.size()> members;  // of a name given twice, the first
};

bool IsNumberChar(char c) {
    return (c >= '0' && c <= '9') || (c && std::strchr("+-.eE", c));
}

// Takes from the parser's events what the inventory needs: the root's "format", "version" and
// "devices" and each device's members, the first of each name. Refuses values nested more than
// eight deep, and numbers the way the reader has always read them. The parser's events, not a
// parsed json value: that would keep the last of two keys and lose how a number was written.
class CFileReader {
public:
    explicit CFileReader(const std::string& text) : m_text(text) {}

    // False with the problem when the text is no JSON the reader takes.
    bool Run() {
        // The parser passes a byte order mark over; the file never had one.
        if (m_text.starts_with("\xEF\xBB\xBF")) {
            m_problem = "a bad number in line 1";
            return false;
        }
        if (!Json::sax_parse(CTrackedText(m_text, 0, &m_read), CTrackedText(m_text, m_text.size(), &m_read),
                             this))
            return false;
        // The parser takes a NUL byte for the end of the text: what follows is too much.
        if (const std::size_t nul = m_text.find('\0'); nul != std::string::npos)
            return Refuse("text after the end", nul);
        return true;
    }
    const std::string& Problem() const { return m_problem; }
    // A string that is not UTF-8 was refused; the strings read before it.
    bool NotUtf8() const { return m_notUtf8; }
    std::size_t Strings() const { return m_strings; }

    bool rootObject = false;
    std::optional<Value> format, version;
    bool devicesSeen = false, devicesArray = false;
    std::vector<DeviceValues> devices;

    // The parser's events.
    bool null() { return Scalar(Value{}); }
    bool boolean(bool) { return Scalar(Value{}); }
    bool number_integer(Json::number_integer_t n) { return Number(n == 0); }
    bool number_unsigned(Json::number_unsigned_t n) { return Number(n == 0); }
    bool number_float(Json::number_float_t, const std::string&) { return Number(false); }
    bool string(std::string& text) {
        ++m_strings;
        return Scalar(Value{Value::Kind::Text, std::move(text)});
    }
    bool binary(Json::binary_t&) { return Scalar(Value{}); }
    bool key(std::string& name) {
        ++m_strings;
        (m_depth == 1 ? m_rootKey : m_deviceKey) = name;
        return true;
    }
    bool start_object(std::size_t) { return Open(true); }
    bool start_array(std::size_t) { return Open(false); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t position, const std::string& token, const Json::exception& error);

private:
    bool Refuse(const char* what, std::size_t end) {
        m_problem = std::string(what) + InLine(end);
        return false;
    }
    std::string InLine(std::size_t end) const {
        return " in line " +
               std::to_string(1 + std::count(m_text.begin(), m_text.begin() + static_cast<long>(end), '\n'));
    }
    // Where the value read last goes.
    void Take(const Value& value, bool container, bool object) {
        if (m_depth == 0) {
            rootObject = object;
        } else if (m_depth == 1 && rootObject) {
            if (m_rootKey == "format" && !format)
                format = value;
            else if (m_rootKey == "version" && !version)
                version = value;
            else if (m_rootKey == "devices" && !devicesSeen) {
                devicesSeen = true;
                devicesArray = m_inDevices = container && !object;
            }
        } else if (m_depth == 2 && m_inDevices) {
            devices.push_back({object, {}});
            m_inDevice = object;
        } else if (m_depth == 3 && m_inDevice) {
            const auto at = std::find(kMembers.begin(), kMembers.end(), m_deviceKey);
            if (at != kMembers.end() && !devices.back().members[at - kMembers.begin()])
                devices.back().members[at - kMembers.begin()] = value;
        }
    }
    bool Scalar(const Value& value) {
        if (m_depth > 8)
            return Refuse("nesting too deep", m_read - 1);
        Take(value, false, false);
        m_done = m_depth == 0;
        return true;
    }
    bool Open(bool object) {
        if (m_depth > 8)
            return Refuse("nesting too deep", m_read - 1);
        Take(Value{}, true, object);
        ++m_depth;
        return true;
    }
    bool Close() {
        --m_depth;
        if (m_depth == 1)
            m_inDevices = false;
        else if (m_depth == 2)
            m_inDevice = false;
        m_done = m_depth == 0;
        return true;
    }
    // A number as written: the parser has read one character past it, unless the text ended.
    bool Number(bool zero) {
        std::size_t end = m_read;
        // "01": the parser ends a number at a leading zero and reads the digit as the next value.
        if (zero && end >= 2 && m_text[end - 2] == '0' && m_text[end - 1] >= '0' && m_text[end - 1] <= '9')
            return Refuse("a bad number", end);
        if (end > 0 && !IsNumberChar(m_text[end - 1]))
            --end;
        std::size_t start = end;
        while (start > 0 && IsNumberChar(m_text[start - 1]))
            --start;
        Value value{Value::Kind::Number, m_text.substr(start, end - start)};
        // Every time is written back as read: one that reads as no double is refused.
        const auto read =
            std::from_chars(value.text.data(), value.text.data() + value.text.size(), value.number);
        if (read.ec != std::errc() || !std::isfinite(value.number))
            return Refuse("a bad number", end);
        return Scalar(value);
    }

    // Where the word ends at position began: the parser stops a true, false or null at the first
    // letter that does not fit, and reads no further.
    std::size_t WordStart(std::size_t position) const {
        std::size_t start = std::min(position, m_text.size()) - 1;
        while (start > 0 && std::isalpha(static_cast<unsigned char>(m_text[start - 1])))
            --start;
        return start;
    }

    const std::string& m_text;
    std::size_t m_read = 0;  // the characters the parser has read
    int m_depth = 0;         // containers open around the next value
    bool m_done = false;     // the whole value is read: anything but space is too much
    std::string m_rootKey, m_deviceKey;
    bool m_inDevices = false, m_inDevice = false;
    std::size_t m_strings = 0;
    bool m_notUtf8 = false;
    std::string m_problem;
};

// The parser's error in the words the reader has always used, with the line it is in.
bool CFileReader::parse_error(std::size_t position, const std::string&, const Json::exception& error) {
    // "... while parsing CONTEXT - DETAIL": what the parser was reading, and what it found (a
    // lexer's message first, before the text it quotes).
    const std::string message = error.what();
    std::string context, detail = message;
    if (const std::size_t at = message.find("while parsing "); at != std::string::npos) {
        const std::size_t begin = at + std::strlen("while parsing "), dash = message.find(" - ", begin);
        context = message.substr(begin, dash - begin);
        detail = dash == std::string::npos ? "" : message.substr(dash + 3);
    }
    auto is = [&](const char* start) { return detail.starts_with(start); };
    const bool atEnd = position > m_text.size();  // the parser read past the last character
    bool lastInLine = false;   // a line feed read last counts: it ended a string, not the value
    bool shortDigits = false;  // \u without four hex digits
    const char* what;
    const bool atValue = error.id == 406 || (context == "value" && !m_done) || context.empty();
    if (atValue && m_depth > 8)  // a value that deep is refused before it is read
        what = "nesting too deep";
    else if (error.id == 406)
        what = "a bad number";
    else if (m_done)
        what = "text after the end";
    else if (context == "object separator")
        what = "a missing colon";
    else if (context == "object")
        what = "a missing closing brace";
    else if (context == "array")
        what = "a missing closing bracket";
    else if (context == "object key" && !is("invalid string: "))
        what = "a missing member name";
    else if (is("invalid string: control character"))
        what = "a control character in a string", lastInLine = true;
    else if (is("invalid string: missing closing quote") || (is("invalid string: forbidden") && atEnd))
        what = "an unfinished string";
    else if (is("invalid string: ill-formed UTF-8"))
        what = "a string that is not UTF-8", m_notUtf8 = true;
    else if (is("invalid string: "))
        what = "a bad escape in a string", lastInLine = !is("invalid string: surrogate"),
        shortDigits = is("invalid string: '\\u' must be followed");
    else if (is("unexpected end of input") || message.find("empty input") != std::string::npos)
        what = atEnd ? "an unexpected end" : "a bad number";  // else a NUL byte, no end
    else if (is("invalid literal") &&
             std::string_view("tfn").find(m_text[WordStart(position)]) != std::string_view::npos)
        what = "an unknown word";
    else
        what = "a bad number";
    std::size_t end = std::min(position, m_text.size());
    if (!atEnd && !lastInLine && end > 0 && m_text[end - 1] == '\n')
        --end;
    if (shortDigits) {
        // Four characters are taken for the digits, whatever they are, when there are four.
        std::size_t digits = end - (atEnd ? 0 : 1);
        for (int k = 0; k < 3 && digits > 0 && std::isxdigit(static_cast<unsigned char>(m_text[digits - 1]));
             ++k)
            --digits;
        end = digits + 4 <= m_text.size() ? digits + 4 : digits;
    }
    return Refuse(what, end);
}

// One device of the file into d; "" or what is wrong with it.
std::string ReadDevice(const DeviceValues& v, KnownDevice& d) {
    if (!v.object)
        return "a device that is not an object";
    std::string* const texts[] = {&d.interface, &d.ip, &d.mac, &d.type, &d.build};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        const auto& m = v.members[i];
        if (!m || m->kind != Value::Kind::Text)
            return std::string("a device without a text \"") + kMembers[i] + "\"";
        *texts[i] = m->text;
    }
    double* const times[] = {&d.firstSeen, &d.lastSeen};
    for (std::size_t i = 0; i < std::size(times); ++i) {
        const auto& m = v.members[std::size(texts) + i];
        const char* name = kMembers[std::size(texts) + i];
        if (!m || m->kind != Value::Kind::Number)
            return std::string("a device without a time \"") + name + "\"";
        // Seconds since 1970 up to the year 5138: every such time is written back as read.
        if (m->number < 0 || m->number >= 1e11)
            return std::string("a device with a time out of range \"") + name + "\"";
        *times[i] = m->number;
    }
    const auto& missed = v.members.back();
    if (!missed || missed->kind != Value::Kind::Number ||
        missed->text.find_first_not_of("0123456789") != std::string::npos || missed->number > 1e15)
        return "a device without a whole number \"missed\"";
    d.missed = static_cast<unsigned long>(missed->number);
    return {};
}

}  // namespace

Failure ReadKnownDevices(const std::string& text, CKnownDevices& known) {
    CFileReader file(text);
    if (!file.Run()) {
        if (!file.NotUtf8())
            return Failure(Errc::DamagedFile, file.Problem());
        // A string is judged as UTF-8 once it is whole: a fault further on in it comes first.
        std::string ascii = text;
        std::replace_if(
            ascii.begin(), ascii.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }, 'z');
        CFileReader again(ascii);
        const bool faultInString = !again.Run() && again.Strings() <= file.Strings();
        return Failure(Errc::DamagedFile, faultInString ? again.Problem() : file.Problem());
    }
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
    std::map<CKnownDevices::Key, KnownDevice> read;
    for (std::size_t i = 0; i < file.devices.size(); ++i) {
        KnownDevice d;
        std::string problem = ReadDevice(file.devices[i], d);
        if (problem.empty() && !read.try_emplace({d.interface, d.ip, d.mac}, d).second)
            problem = "a device listed twice";
        if (!problem.empty())
            return Failure(Errc::DamagedFile, problem + " (device " + std::to_string(i + 1) + ")");
    }
    known.Devices().swap(read);
    return {};
}
