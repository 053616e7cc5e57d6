// Start-up with file capabilities: only the session's display, locale and home survive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "gui/app/SecureStart.h"

extern char** environ;

namespace {

class SecureStartTest : public testing::Test {
protected:
    SecureStartTest() {
        for (char** entry = environ; entry && *entry; ++entry) {
            if (const char* eq = std::strchr(*entry, '='))
                m_saved.emplace_back(std::string(*entry, static_cast<size_t>(eq - *entry)),
                                     std::string(eq + 1));
        }
        clearenv();
    }
    ~SecureStartTest() override {
        clearenv();
        for (const auto& [name, value] : m_saved)
            setenv(name.c_str(), value.c_str(), 1);
    }
    static std::string Get(const char* name) {
        const char* value = std::getenv(name);
        return value ? value : "<unset>";
    }
    static size_t Count() {
        size_t n = 0;
        for (char** entry = environ; entry && *entry; ++entry)
            ++n;
        return n;
    }

    std::vector<std::pair<std::string, std::string>> m_saved;
};

TEST_F(SecureStartTest, PathsToCodeGoAndTheSessionStaysByteForByte) {
    const std::pair<const char*, const char*> dropped[] = {
        {"QT_PLUGIN_PATH", "/tmp/evil"},
        {"QT_QPA_PLATFORM_PLUGIN_PATH", "/tmp/evil"},
        {"QT_QPA_PLATFORMTHEME", "gtk3"},
        {"QT_QPA_GENERIC_PLUGINS", "evdevmouse"},
        {"GTK_MODULES", "/tmp/evil.so"},
        {"GIO_EXTRA_MODULES", "/tmp"},
        {"LIBGL_DRIVERS_PATH", "/tmp"},
        {"LD_LIBRARY_PATH", "/tmp"},
        {"XDG_CURRENT_DESKTOP", "GNOME"},
        {"DISPLAYX", ":1"},
        {"HOME_EXTRA", "/x"},
        {"LCX", "C"},
    };
    const std::pair<const char*, const char*> kept[] = {
        {"DISPLAY", ":0"},
        {"XAUTHORITY", "/home/u/.Xauthority"},
        {"HOME", "/home/u"},
        {"LANG", "de_DE.UTF-8"},
        {"LC_ALL", ""},
        {"LC_TIME", "C"},
        {"XDG_CONFIG_HOME", "/home/u/my config"},
        {"QT_QPA_PLATFORM", "xcb"},
        {"PATH", "/usr/bin:/bin"},
        {"TZ", "a=b"},
        {"TERMINAL", "xterm"},
        {"BROWSER", "firefox"},
    };
    for (const auto& [name, value] : dropped)
        setenv(name, value, 1);
    for (const auto& [name, value] : kept)
        setenv(name, value, 1);

    KeepOnlySessionEnvironment();

    for (const auto& [name, value] : dropped)
        EXPECT_EQ(Get(name), "<unset>") << name;
    for (const auto& [name, value] : kept)
        EXPECT_EQ(Get(name), value) << name;
    EXPECT_EQ(Count(), std::size(kept));
}

TEST_F(SecureStartTest, AnEmptyEnvironmentStaysEmptyAndTestsRunWithoutSecureExecution) {
    KeepOnlySessionEnvironment();
    EXPECT_EQ(Count(), 0u);
    // The test program carries no file capabilities; the program's own path is not taken here.
    EXPECT_FALSE(IsSecureExecution());
}

}  // namespace
