#include "base/ProgramFile.h"

#include <filesystem>
#include <string_view>

Result<std::string> GetProgramFilePath() {
    std::error_code error;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return Failure(std::error_code(error.value(), std::generic_category()));
    // The kernel marks a replaced or removed program file this way.
    const std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    return Result<std::string>(std::move(path));
}

std::string ShellQuoted(const std::string& text) {
    static constexpr std::string_view kPlain =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./+,:@%=-";
    if (!text.empty() && text.find_first_not_of(kPlain) == std::string::npos)
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
