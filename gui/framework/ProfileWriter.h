#pragma once
// Saving the settings profile without writing through a link or into another user's file: the
// new text is made by QSettings from a private copy, then replaces the file in one step.
#include <QString>
#include <QVariant>

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// What a new file gets: rw-rw-rw- less the umask, as any program's files (QSettings' included).
mode_t NewFileMode();

struct ProfileEdit {
    QString key;                    // "group/entry", or a group alone
    std::optional<QVariant> value;  // none: the key (or group) goes
};

// Applies the edits to the INI file at path and stores the result: the bytes QSettings would
// have written there, except that bytes of the old file that are no UTF-8 stay as they were.
// Refused when the file or its folder is a symbolic link or belongs to another user, and when
// the file is read-only. A missing folder is created. "" when saved; else the file is left as
// it was and the text says why.
std::string SaveProfileFile(const std::string& path, const std::vector<ProfileEdit>& edits);
