#include "platform/ProgramFile.h"

#include <unistd.h>

#include <cstring>
#include <vector>

std::string GetProgramFilePath() {
    // A path may be longer than PATH_MAX; grow until readlink leaves room to spare.
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (static_cast<size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<size_t>(n));
            // The kernel marks a replaced or removed program file this way.
            const std::string deleted = " (deleted)";
            if (path.size() > deleted.size() && path.ends_with(deleted))
                path.resize(path.size() - deleted.size());
            return path;
        }
        if (buffer.size() >= (1u << 20))
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string ShellQuoted(const std::string& text) {
    static const char kPlain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./+,:@%=-";
    bool plain = !text.empty();
    for (char c : text)
        plain = plain && c != '\0' && std::strchr(kPlain, c) != nullptr;
    if (plain)
        return text;
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}
