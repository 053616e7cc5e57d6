// The log closed from a static destructor, as the application object does at process exit: the
// file operations it uses must still be alive then, however late they were first used.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"
#include "log/Log.h"

namespace {

std::string g_path;

// Constructed before anything of the log exists, so destroyed after every later static.
struct LateCloser {
    ~LateCloser() {
        if (g_path.empty())
            return;
        LogWrite(LOG_ERROR, "closing line");
        LogClose();
        std::string text = testsupport::ReadFileBytes(g_path);
        std::remove(g_path.c_str());
        if (text.find("Error    opening line\r\n") == std::string::npos ||
            text.find("Error    closing line\r\n") == std::string::npos) {
            std::fprintf(stderr, "lines lost at exit: %s\n", text.c_str());
            ::_exit(1);
        }
    }
} g_lateCloser;

TEST(LogShutdownTest, LogClosedFromAStaticDestructorAfterAnErrorLine) {
    char name[] = "/tmp/oldlogexit.XXXXXX";
    int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    g_path = name;
    LogOpen(name);
    LogSetLevel(LOG_WARNING);
    // The first written line is what brings the file operations into being.
    LogWrite(LOG_ERROR, "opening line");
    // The check itself runs after main, in the static destructor above.
}

}  // namespace
