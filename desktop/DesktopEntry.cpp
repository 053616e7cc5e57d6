#include "desktop/DesktopEntry.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "desktop/CommandLine.h"
#include "base/UniqueFd.h"

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
    for (size_t start = 0, end; start <= dirs.size(); start = end + 1) {
        end = std::min(dirs.find(':', start), dirs.size());
        // Relative entries are not allowed by the base-directory rules.
        if (end > start && dirs[start] == '/')
            folders.push_back(dirs.substr(start, end - start));
    }
    return folders;
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string Unescape(std::string_view value) {
    static constexpr std::string_view kEscaped = "sntr\\", kMeant = " \n\t\r\\";
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        // A backslash that starts no value escape stays: the command-line quoting rules read it.
        const size_t escape =
            value[i] == '\\' && i + 1 < value.size() ? kEscaped.find(value[i + 1]) : kEscaped.npos;
        if (escape == kEscaped.npos) {
            out += value[i];
        } else {
            out += kMeant[escape];
            ++i;
        }
    }
    return out;
}

// The user's message language as the locale names it ("de_AT.UTF-8@euro"), without encoding.
struct Locale {
    std::string lang, country, modifier;
};

Locale MessageLocale() {
    std::string name;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        name = Env(variable);
        if (!name.empty())
            break;
    }
    Locale locale;
    size_t at = name.find('@');
    if (at != std::string::npos) {
        locale.modifier = name.substr(at + 1);
        name.erase(at);
    }
    name.erase(std::min(name.find('.'), name.size()));
    size_t underscore = name.find('_');
    if (underscore != std::string::npos) {
        locale.country = name.substr(underscore + 1);
        name.erase(underscore);
    }
    if (name != "C" && name != "POSIX")
        locale.lang = name;
    return locale;
}

// How well a key's locale suffix ("de_AT") fits: 5 best, 1 the plain key, 0 not at all.
int LocaleFit(std::string_view suffix, const Locale& locale) {
    if (suffix.empty())
        return 1;
    if (locale.lang.empty())
        return 0;
    const std::string lc = locale.lang + "_" + locale.country;
    const std::string lm = locale.lang + "@" + locale.modifier;
    if (!locale.country.empty() && !locale.modifier.empty() && suffix == lc + "@" + locale.modifier)
        return 5;
    if (!locale.country.empty() && suffix == lc)
        return 4;
    if (!locale.modifier.empty() && suffix == lm)
        return 3;
    return suffix == locale.lang ? 2 : 0;
}

Failure TooLarge() {
    return Failure(std::make_error_code(std::errc::file_too_large));
}

// Reads the main group from fd line by line, at most kMaxDesktopEntryBytes.
Failure ReadMainGroup(int fd, DesktopEntry* entry) {
    const Locale locale = MessageLocale();
    int nameFit = 0;
    bool inMainGroup = false, haveExec = false;
    // Takes one line into entry; false once the main group has ended.
    auto takeLine = [&](std::string_view line) {
        const std::string text = Trim(line);
        if (text.empty() || text[0] == '#')
            return true;
        if (text[0] == '[') {
            if (inMainGroup)
                return false;  // nothing after the group is needed
            inMainGroup = text == "[Desktop Entry]";
            return true;
        }
        const size_t equals = text.find('=');
        if (!inMainGroup || equals == std::string::npos)
            return true;
        const std::string key = Trim(std::string_view(text).substr(0, equals));
        const std::string value = Unescape(Trim(std::string_view(text).substr(equals + 1)));
        if (key == "Exec") {
            entry->exec = value;
            haveExec = true;
        } else if (key == "Icon") {
            entry->icon = value;
        } else if (key == "Name" || (key.starts_with("Name[") && key.back() == ']')) {
            const std::string_view suffix =
                key == "Name" ? std::string_view() : std::string_view(key).substr(5, key.size() - 6);
            const int fit = LocaleFit(suffix, locale);
            if (fit > nameFit) {
                nameFit = fit;
                entry->name = value;
            }
        }
        return true;
    };
    std::string line;  // the part of a line read so far
    size_t total = 0;
    char chunk[4096];
    for (;;) {
        const ssize_t got = TEMP_FAILURE_RETRY(::read(fd, chunk, sizeof chunk));
        if (got < 0)
            return LastErrno();
        if (got == 0) {
            takeLine(line);  // the last line may have no line end
            return haveExec ? Failure() : Failure(Errc::NoExecKey);
        }
        total += static_cast<size_t>(got);
        if (total > kMaxDesktopEntryBytes)
            return TooLarge();
        std::string_view rest(chunk, static_cast<size_t>(got));
        for (size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
            line.append(rest.substr(0, end));
            if (!takeLine(line))
                return haveExec ? Failure() : Failure(Errc::NoExecKey);
            line.clear();
        }
        line.append(rest);
    }
}

// A field code's value as command-line text: one word outside a quoted part; inside one, the
// same characters escaped for it.
std::string FieldText(const std::string& value, bool inQuotes) {
    if (value.empty())
        return {};
    std::string word = QuoteWord(value);
    return inQuotes ? word.substr(1, word.size() - 2) : word;
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
    // A group of its own, so the whole shell script with its helpers can be ended at once.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::string program = "xdg-mime", query = "query", what = "default", type = mimeType;
    char* argv[] = {program.data(), query.data(), what.data(), type.data(), nullptr};
    pid_t pid = -1;
    int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
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
        const ssize_t got = TEMP_FAILURE_RETRY(::read(answerIn.get(), chunk, sizeof chunk));
        if (got <= 0) {
            complete = got == 0;
            break;
        }
        answer.append(chunk, static_cast<size_t>(got));
    }
    answerIn.reset();
    // Nothing of the query is needed any longer: a helper that overran the bound or its output,
    // and whatever it left running. The leader is not reaped yet, so the group id is still ours.
    ::kill(-pid, SIGKILL);
    int status = 0;
    TEMP_FAILURE_RETRY(::waitpid(pid, &status, 0));
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

Result<DesktopEntry> ReadDesktopEntry(const std::string& path) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    struct stat info;
    if (!file || ::fstat(file.get(), &info) != 0)
        return LastErrno();
    // A file that says it is too large is refused unread; the read stops at the bound anyway.
    if (S_ISREG(info.st_mode) && static_cast<unsigned long long>(info.st_size) > kMaxDesktopEntryBytes)
        return TooLarge();
    DesktopEntry read;
    read.location = path;
    if (Failure failure = ReadMainGroup(file.get(), &read))
        return failure;
    return read;
}

std::string CutAtFieldCode(const DesktopEntry& entry) {
    const std::string& s = entry.exec;
    size_t cut = s.size();
    // "%%" and the other codes are skipped whole, so the search goes on after the code letter.
    for (size_t i = s.find('%'); i != std::string::npos && i + 1 < s.size(); i = s.find('%', i + 2)) {
        if (std::string_view("uUfF1").find(s[i + 1]) == std::string_view::npos)
            continue;
        if (i > 0 && s[i - 1] == '"' && i + 2 < s.size() && s[i + 2] == '"') {
            cut = i - 1;  // a quoted code goes with its quotes, and wins over a bare one before it
            break;
        }
        cut = std::min(cut, i);
    }

    // The other codes are replaced in the kept part; quotes are followed as SplitCommandLine
    // reads them, so a value inside a quoted part ("%c") stays inside it.
    std::string kept;
    bool quoted = false;
    for (size_t i = 0; i < cut; ++i) {
        const char c = s[i];
        if (c == '\\') {
            const size_t run = std::min(s.find_first_not_of('\\', i), cut) - i;
            kept.append(s, i, run);
            i += run - 1;
            if (run % 2 == 1 && i + 1 < cut && s[i + 1] == '"')
                kept += s[++i];  // an escaped quote opens or closes nothing
            continue;
        }
        if (c == '"') {
            if (quoted && i + 1 < cut && s[i + 1] == '"') {
                kept += "\"\"";
                ++i;
            } else {
                quoted = !quoted;
                kept += c;
            }
            continue;
        }
        if (c != '%' || i + 1 == cut) {
            kept += c;
            continue;
        }
        // The deprecated codes (%d %D %n %N %v %m) and what is no field code at all are removed.
        const char code = s[++i];
        if (code == '%')
            kept += '%';
        else if (code == 'i' && !entry.icon.empty())
            kept += "--icon " + FieldText(entry.icon, quoted);
        else if (code == 'c')
            kept += FieldText(entry.name, quoted);
        else if (code == 'k')
            kept += FieldText(entry.location, quoted);
    }
    return kept;
}
