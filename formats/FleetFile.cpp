#include "formats/FleetFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include <toml++/toml.h>

#include "base/UniqueFd.h"

namespace {

// Beyond this a file is no fleet file an administrator wrote, and reading it whole is refused.
constexpr std::size_t kMaxFleetFileSize = 16 << 20;

// The first fault found: where and what.
struct Fault {
    toml::source_index line = 0;
    std::string what;
};

Fault At(const toml::source_region& where, std::string what) {
    return {where.begin.line, std::move(what)};
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::optional<Fault> ReadApproved(const toml::table& table, Fleet& fleet) {
    for (auto&& [type, builds] : table) {
        const toml::array* list = builds.as_array();
        if (!list)
            return At(builds.source(), "the approved builds of " + Quoted(type.str()) + " are no list");
        std::vector<std::string>& approved = fleet.approved[std::string(type.str())];
        for (const toml::node& build : *list) {
            const auto* text = build.as_string();
            if (!text)
                return At(build.source(), "an approved build of " + Quoted(type.str()) + " that is no text");
            approved.push_back(text->get());
        }
    }
    return std::nullopt;
}

std::optional<Fault> ReadDevice(const toml::key& mac, const toml::table& table, FleetDevice& device) {
    for (auto&& [key, value] : table) {
        const std::string_view name = key.str();
        const toml::node& node = value;  // a lambda may not name a structured binding (C++20)
        const auto wrong = [&](const char* should) {
            return At(node.source(),
                      std::string(name) + " of device " + std::string(mac.str()) + " " + should);
        };
        if (name == "name" || name == "note") {
            const auto* text = value.as_string();
            if (!text)
                return wrong("is no text");
            (name == "name" ? device.name : device.note) = text->get();
        } else if (name == "expect") {
            const auto* text = value.as_string();
            static const FleetDevice::Expect kinds[] = {
                FleetDevice::Expect::Always, FleetDevice::Expect::Transient, FleetDevice::Expect::Ignore};
            const auto* kind = text ? std::find_if(std::begin(kinds), std::end(kinds),
                                                   [&](auto k) { return text->get() == ExpectName(k); })
                                    : std::end(kinds);
            if (kind == std::end(kinds))
                return wrong("is not \"always\", \"transient\" or \"ignore\"");
            device.expect = *kind;
        } else if (name == "gone_after") {
            const auto* number = value.as_integer();
            if (!number || number->get() < 1 || number->get() > std::numeric_limits<int>::max())
                return wrong("is no whole number of scans from 1");
            device.goneAfter = static_cast<int>(number->get());
        } else if (name == "retired") {
            const auto* flag = value.as_boolean();
            if (!flag)
                return wrong("is not true or false");
            device.retired = flag->get();
        } else {
            return At(key.source(), "unknown key " + Quoted(name) + " of device " + std::string(mac.str()));
        }
    }
    return std::nullopt;
}

std::optional<Fault> ReadDevices(const toml::table& table, Fleet& fleet) {
    // The library keeps keys in their order, not the file's: a MAC spelt twice is reported at the
    // later of its lines.
    std::map<std::string, const toml::key*> spelt;
    for (auto&& [mac, value] : table) {
        const std::optional<std::string> normal = NormalMac(mac.str());
        if (!normal)
            return At(mac.source(), Quoted(mac.str()) + " is no MAC address such as \"02:00:0A:4D:00:14\"");
        const toml::table* settings = value.as_table();
        if (!settings)
            return At(value.source(), "device " + std::string(mac.str()) + " is no table");
        auto [place, added] = fleet.devices.try_emplace(*normal);
        if (!added) {
            const toml::key* first = spelt[*normal];
            const toml::key& later = first->source().begin.line > mac.source().begin.line ? *first : mac;
            return At(later.source(), "device " + *normal + " is listed twice");
        }
        spelt[*normal] = &mac;
        if (auto fault = ReadDevice(mac, *settings, place->second))
            return fault;
    }
    return std::nullopt;
}

std::optional<Fault> ReadTop(const toml::table& top, Fleet& fleet) {
    for (auto&& [key, value] : top) {
        const toml::table* table = value.as_table();
        if (key.str() != "approved" && key.str() != "devices")
            return At(key.source(),
                      "unknown key " + Quoted(key.str()) + " (the file has [approved] and [devices])");
        if (!table)
            return At(value.source(), Quoted(key.str()) + " is no table");
        if (auto fault = key.str() == "approved" ? ReadApproved(*table, fleet) : ReadDevices(*table, fleet))
            return fault;
    }
    return std::nullopt;
}

Failure FleetFault(const std::string& source, toml::source_index line, const std::string& what) {
    return Failure(Errc::BadFleetFile, source + ":" + std::to_string(line) + ": " + what);
}

}  // namespace

std::optional<std::string> NormalMac(std::string_view mac) {
    if (mac.size() != 17)
        return std::nullopt;
    std::string normal(mac);
    const char separator = mac[2];
    for (std::size_t i = 0; i < normal.size(); ++i) {
        char& c = normal[i];
        if (i % 3 == 2) {
            if (c != separator || (c != ':' && c != '-'))
                return std::nullopt;
            c = ':';
        } else if (std::isxdigit(static_cast<unsigned char>(c))) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            return std::nullopt;
        }
    }
    return normal;
}

const char* ExpectName(FleetDevice::Expect expect) {
    switch (expect) {
    case FleetDevice::Expect::Always:
        return "always";
    case FleetDevice::Expect::Transient:
        return "transient";
    case FleetDevice::Expect::Ignore:
        return "ignore";
    }
    return "always";
}

const FleetDevice* Fleet::Find(std::string_view mac) const {
    const std::optional<std::string> normal = NormalMac(mac);
    if (!normal)
        return nullptr;
    const auto found = devices.find(*normal);
    return found == devices.end() ? nullptr : &found->second;
}

std::optional<bool> Fleet::BuildApproved(std::string_view type, std::string_view build) const {
    const auto found = approved.find(std::string(type));
    if (found == approved.end())
        return std::nullopt;
    return std::find(found->second.begin(), found->second.end(), build) != found->second.end();
}

Result<Fleet> ReadFleet(std::string_view text, const std::string& source) {
    toml::table top;
    try {
        top = toml::parse(text, source);
    } catch (const toml::parse_error& error) {
        return FleetFault(source, error.source().begin.line, std::string(error.description()));
    }
    Fleet fleet;
    if (const std::optional<Fault> fault = ReadTop(top, fleet))
        return FleetFault(source, fault->line, fault->what);
    return fleet;
}

Result<Fleet> ReadFleetFile(const std::string& path) {
    const auto unreadable = [&](int error) {
        return Failure(Errc::BadFleetFile, path + ": " + std::strerror(error));
    };
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return unreadable(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return unreadable(errno);
    if (!S_ISREG(st.st_mode))
        return Failure(Errc::BadFleetFile, path + ": not a regular file");
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return unreadable(errno);
        if (got == 0)
            break;
        text.append(chunk, static_cast<std::size_t>(got));
        if (text.size() > kMaxFleetFileSize)
            return Failure(Errc::BadFleetFile, path + ": larger than 16 MiB");
    }
    return ReadFleet(text, path);
}

bool CFileChange::Changed() {
    Seen now;
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0) {
        now = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    const bool changed = !m_seen || m_seen->exists != now.exists || m_seen->device != now.device ||
                         m_seen->inode != now.inode || m_seen->size != now.size ||
                         !same(m_seen->modified, now.modified) || !same(m_seen->changed, now.changed);
    m_seen = now;
    return changed;
}

CFleetWatch::Outcome CFleetWatch::Refresh() {
    if (!m_file.Changed())
        return Outcome::Unchanged;
    if (!m_file.Exists() && !m_required) {
        m_fleet = Fleet();
        m_loaded = false;
        m_fault = {};
        return Outcome::Loaded;
    }
    Result<Fleet> read = ReadFleetFile(m_file.Path());
    if (!read) {
        m_fault = read.Error();
        return Outcome::Refused;
    }
    m_fleet = std::move(*read);
    m_loaded = true;
    m_fault = {};
    return Outcome::Loaded;
}
