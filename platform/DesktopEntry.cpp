#include "platform/DesktopEntry.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

extern char** environ;

namespace {

// A desktop-file id is a file name; xdg-mime answers in one short line.
constexpr size_t kMaxAnswer = 4096;

std::string Trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> SplitPathList(const std::string& list) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        // Relative entries are not allowed by the base-directory rules.
        if (end > start && list[start] == '/')
            parts.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> DataFolders() {
    std::vector<std::string> folders;
    std::string home = Env("XDG_DATA_HOME");
    if (home.empty() || home[0] != '/') {
        std::string userHome = Env("HOME");
        home = userHome.empty() ? "" : userHome + "/.local/share";
    }
    if (!home.empty())
        folders.push_back(home);
    std::string dirs = Env("XDG_DATA_DIRS");
    if (dirs.empty())
        dirs = "/usr/local/share:/usr/share";
    for (std::string& dir : SplitPathList(dirs))
        folders.push_back(std::move(dir));
    return folders;
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string Unescape(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            // Not a value escape: the command-line quoting rules read it later.
            out += '\\';
            out += value[i];
            break;
        }
    }
    return out;
}

bool IsFileOrUrlCode(char c) {
    return c == 'u' || c == 'U' || c == 'f' || c == 'F' || c == '1';
}

}  // namespace

std::string QueryDefaultDesktopEntry(const std::string& mimeType, std::chrono::milliseconds bound) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return {};
    UniqueFd answerIn(pipeEnds[0]), answerOut(pipeEnds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, answerOut.get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "xdg-mime", query = "query", what = "default", type = mimeType;
    char* argv[] = {program.data(), query.data(), what.data(), type.data(), nullptr};
    pid_t pid = -1;
    int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    answerOut.reset();
    if (spawned != 0)
        return {};

    std::string answer;
    bool complete = false;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (answer.size() < kMaxAnswer) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd readable{answerIn.get(), POLLIN, 0};
        int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char chunk[512];
        ssize_t got = ::read(answerIn.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            complete = got == 0;
            break;
        }
        answer.append(chunk, static_cast<size_t>(got));
    }
    answerIn.reset();
    // A helper that overran the bound or its output is not waited for any longer.
    if (!complete)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return Trim(std::string_view(answer).substr(0, answer.find('\n')));
}

std::string FindDesktopEntry(const std::string& desktopId) {
    // An id names a file in applications/, never a path of its own.
    if (desktopId.empty() || desktopId[0] == '.' || desktopId.find('/') != std::string::npos)
        return {};
    // "kde-foo.desktop" may live as kde/foo.desktop: each dash from the left may be a folder.
    std::vector<std::string> names{desktopId};
    std::string nested = desktopId;
    for (size_t dash = nested.find('-'); dash != std::string::npos; dash = nested.find('-', dash)) {
        nested[dash] = '/';
        names.push_back(nested);
    }
    for (const std::string& folder : DataFolders()) {
        for (const std::string& name : names) {
            std::string path = folder + "/applications/" + name;
            if (IsRegularFile(path))
                return path;
        }
    }
    return {};
}

bool ReadDesktopEntryExec(const std::string& path, std::string* exec) {
    std::ifstream in(path);
    if (!in)
        return false;
    bool inMainGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        std::string text = Trim(line);
        if (text.empty() || text[0] == '#')
            continue;
        if (text[0] == '[') {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        size_t equals = text.find('=');
        if (equals == std::string::npos || Trim(std::string_view(text).substr(0, equals)) != "Exec")
            continue;
        if (exec)
            *exec = Unescape(Trim(std::string_view(text).substr(equals + 1)));
        return true;
    }
    return false;
}

std::string CutAtFieldCode(const std::string& commandTemplate) {
    const std::string& s = commandTemplate;
    size_t cut = s.size();
    size_t firstBare = std::string::npos;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] != '%')
            continue;
        if (s[i + 1] == '%') {
            ++i;
            continue;
        }
        if (!IsFileOrUrlCode(s[i + 1]))
            continue;
        if (i > 0 && s[i - 1] == '"' && i + 2 < s.size() && s[i + 2] == '"') {
            firstBare = std::string::npos;
            cut = i - 1;
            break;
        }
        if (firstBare == std::string::npos)
            firstBare = i;
    }
    if (firstBare != std::string::npos)
        cut = firstBare;
    std::string kept;
    for (size_t i = 0; i < cut; ++i) {
        kept += s[i];
        if (s[i] == '%' && i + 1 < cut && s[i + 1] == '%')
            ++i;
    }
    return kept;
}
