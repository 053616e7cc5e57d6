#include "gui/framework/ProfileWriter.h"

#include <QSettings>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/SafeFile.h"
#include "base/UniqueFd.h"
#include "log/DeviceText.h"
#include "res/FailureText.h"

namespace {

// Bytes that are no UTF-8 pass through QSettings as these private-use characters (U+F700 plus
// the byte) and are put back afterwards, so a value nobody edited keeps its bytes. A file that
// already holds one of these characters is taken as it is (such bytes then read as U+FFFD).
constexpr unsigned kEscapeBase = 0xF700;

bool IsEscape(const std::string& text, std::size_t at) {
    // U+F700..U+F7FF: EF 9C 80 .. EF 9F BF.
    return at + 3 <= text.size() && static_cast<unsigned char>(text[at]) == 0xEF &&
           static_cast<unsigned char>(text[at + 1]) >= 0x9C &&
           static_cast<unsigned char>(text[at + 1]) <= 0x9F &&
           (static_cast<unsigned char>(text[at + 2]) & 0xC0) == 0x80;
}

// False when the text cannot be escaped without mixing its own characters with the escapes.
bool EscapeForeignBytes(const std::string& text, std::string* out) {
    out->clear();
    for (std::size_t at = 0; at < text.size();) {
        if (IsEscape(text, at))
            return false;
        std::size_t length = Utf8Length(text, at);
        if (length > 0) {
            out->append(text, at, length);
            at += length;
            continue;
        }
        const unsigned code = kEscapeBase + static_cast<unsigned char>(text[at++]);
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    return true;
}

std::string UnescapeForeignBytes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (IsEscape(text, at)) {
            const unsigned code = ((static_cast<unsigned char>(text[at + 1]) & 0x3Fu) << 6) |
                                  (static_cast<unsigned char>(text[at + 2]) & 0x3Fu);
            out.push_back(static_cast<char>(code & 0xFF));
            at += 3;
        } else {
            out.push_back(text[at++]);
        }
    }
    return out;
}

bool ReadWhole(int fd, std::string* out) {
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(buf, static_cast<std::size_t>(n));
    }
}

long long Milliseconds(const timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

}  // namespace

mode_t NewFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 0644;
}

std::string SaveProfileFile(const std::string& path, const std::vector<ProfileEdit>& edits) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::exists(std::filesystem::symlink_status(folder, ec))) {
        std::filesystem::create_directories(folder, ec);
        if (ec)
            return "its folder cannot be made: " + ec.message();
    }
    if (const Failure refusal = WriteRefusal(folder.string()); !folder.empty() && refusal)
        return "its folder " + folder.string() + FailureText(refusal).substr(2);  // "it is" -> " is"
    if (const Failure refusal = WriteRefusal(path))
        return FailureText(refusal);

    std::string old;
    mode_t mode = NewFileMode();
    struct stat before {};
    bool existed = false;
    if (UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)); fd) {
        if (::fstat(fd.get(), &before) != 0 || !S_ISREG(before.st_mode))
            return "it is not a regular file";
        // The owner made it read-only: that is the owner's word, also for root, who could write it.
        if ((before.st_mode & S_IWUSR) == 0)
            return "it is read-only";
        if (!ReadWhole(fd.get(), &old))
            return std::strerror(errno);
        mode = before.st_mode & 07777;
        existed = true;
    } else if (errno != ENOENT) {
        return std::strerror(errno);
    }

    // QSettings works on a private copy; only the finished text reaches the real folder.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return "no temporary folder: " + scratch.errorString().toStdString();
    const QString copyPath = scratch.filePath(QStringLiteral("profile.conf"));
    std::string escaped;
    const bool escapedBytes = EscapeForeignBytes(old, &escaped);
    {
        std::ofstream copy(copyPath.toStdString(), std::ios::binary | std::ios::trunc);
        copy << (escapedBytes ? escaped : old);
        if (!copy.flush())
            return "the temporary copy cannot be written";
    }
    {
        QSettings settings(copyPath, QSettings::NativeFormat);
        for (const ProfileEdit& edit : edits) {
            if (edit.value)
                settings.setValue(edit.key, *edit.value);
            else
                settings.remove(edit.key);
        }
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return "the settings cannot be formatted";
    }
    std::ifstream result(copyPath.toStdString(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(result)), std::istreambuf_iterator<char>());
    if (escapedBytes)
        text = UnescapeForeignBytes(text);

    if (const Failure failed = WriteFileAtomically(path, text, mode))
        return FailureText(failed);
    // QSettings takes a file whose size and time (in milliseconds) it has seen as unchanged, so
    // the new file must not carry the old one's time.
    struct stat after {};
    if (existed && ::lstat(path.c_str(), &after) == 0 && after.st_size == before.st_size &&
        Milliseconds(after.st_mtim) <= Milliseconds(before.st_mtim)) {
        const long long next = Milliseconds(before.st_mtim) + 1;
        const timespec times[2] = {
            {0, UTIME_OMIT}, {static_cast<time_t>(next / 1000), static_cast<long>(next % 1000 * 1000000)}};
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    return {};
}
