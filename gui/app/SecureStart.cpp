#include "gui/app/SecureStart.h"

#include <sys/auxv.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

// Display, session, locale and scaling; none of them names code to load.
constexpr const char* kKept[] = {
    "DISPLAY",
    "XAUTHORITY",
    "WAYLAND_DISPLAY",
    "XDG_RUNTIME_DIR",
    "XDG_SESSION_TYPE",
    "XDG_CONFIG_HOME",
    "XDG_DATA_HOME",
    "XDG_CACHE_HOME",
    "HOME",
    "USER",
    "LOGNAME",
    "PATH",
    "LANG",
    "LANGUAGE",
    "TZ",
    "DBUS_SESSION_BUS_ADDRESS",
    "QT_QPA_PLATFORM",
    "QT_SCALE_FACTOR",
    "QT_SCREEN_SCALE_FACTORS",
    "QT_ENABLE_HIGHDPI_SCALING",
    "QT_SCALE_FACTOR_ROUNDING_POLICY",
    "QT_FONT_DPI",
    "XCURSOR_THEME",
    "XCURSOR_SIZE",
    // The user's own terminal and browser; they are started later with no capability at all.
    "TERMINAL",
    "BROWSER",
};

bool Kept(const std::string& name) {
    if (name.rfind("LC_", 0) == 0)
        return true;
    for (const char* kept : kKept) {
        if (name == kept)
            return true;
    }
    return false;
}

}  // namespace

bool IsSecureExecution() {
    return getauxval(AT_SECURE) != 0;
}

void KeepOnlySessionEnvironment() {
    std::vector<std::pair<std::string, std::string>> kept;
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* eq = std::strchr(*entry, '=');
        if (!eq)
            continue;
        std::string name(*entry, static_cast<size_t>(eq - *entry));
        if (Kept(name))
            kept.emplace_back(std::move(name), std::string(eq + 1));
    }
    // Rebuilt from scratch, so no malformed or duplicate entry survives either.
    clearenv();
    for (const auto& [name, value] : kept)
        setenv(name.c_str(), value.c_str(), 0);
}
