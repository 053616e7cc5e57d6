#include "StandIn.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
constexpr const char* kRecord = "run";
const std::string kEnd = "<end>\n";
}  // namespace

void StandInPrograms::Add(const std::string& name) {
    const std::string path = m_dir.file(name);
    {
        std::ofstream script(path);
        // Only shell built-ins: the test's PATH may hold nothing but this folder.
        script << "#!/bin/sh\n{ printf '%s\\n' \"${0##*/}\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; "
                  "done; printf '<end>\\n'; } > '"
               << m_dir.file(kRecord) << "'\n";
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::optional<std::vector<std::string>> StandInPrograms::WaitForRun(std::chrono::milliseconds bound) {
    const std::string record = m_dir.file(kRecord);
    int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0)
        return std::nullopt;
    inotify_add_watch(watch, Dir().c_str(), IN_CLOSE_WRITE);
    const auto until = std::chrono::steady_clock::now() + bound;
    std::string bytes;
    // Checked after the watch exists, so a record closed just before is not missed either.
    while (!(bytes = testsupport::ReadFileBytes(record)).ends_with(kEnd)) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd pfd{watch, POLLIN, 0};
        if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            close(watch);
            return std::nullopt;
        }
        char events[4096];
        while (read(watch, events, sizeof events) > 0) {
        }
    }
    close(watch);
    bytes.resize(bytes.size() - kEnd.size());
    std::vector<std::string> argv;
    std::istringstream lines(bytes);
    for (std::string line; std::getline(lines, line);)
        argv.push_back(line);
    std::error_code ignored;
    std::filesystem::remove(record, ignored);
    return argv;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name))
        m_saved = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (m_saved)
        setenv(m_name.c_str(), m_saved->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}
