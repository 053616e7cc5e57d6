#pragma once
// The desktop's registered handlers, found the way xdg-utils finds them: xdg-mime names the
// desktop entry, the XDG data folders hold it, its Exec= key is the command template.
#include <chrono>
#include <cstddef>
#include <string>

#include "base/Error.h"

// The desktop entry that `xdg-mime query default <mimeType>` names ("firefox-esr.desktop").
// Empty when xdg-mime is missing, fails, names none, or has not answered within the bound.
// xdg-mime runs in a process group of its own, which is ended when the answer is in or the
// bound has passed, so nothing it started outlives the query.
std::string QueryDefaultDesktopEntry(const std::string& mimeType,
                                     std::chrono::milliseconds bound = std::chrono::seconds(1));

// Full path of the entry with that desktop-file id below applications/ of the XDG data folders
// ($XDG_DATA_HOME, else ~/.local/share; then $XDG_DATA_DIRS, else /usr/local/share:/usr/share),
// the first found; "-" in the id may stand for a subfolder. Empty when there is none.
std::string FindDesktopEntry(const std::string& desktopId);

// What the [Desktop Entry] group of a desktop entry says about starting its program, with the
// value escapes (\s \n \t \r \\) resolved.
struct DesktopEntry {
    std::string location;  // the file it was read from
    std::string exec;      // Exec=, the command template
    std::string icon;      // Icon=
    // Name= in the language of $LC_ALL, $LC_MESSAGES or $LANG: Name[ll_CC@mod], Name[ll_CC],
    // Name[ll@mod], Name[ll], else Name.
    std::string name;
};

// A handler's desktop entry is a few kilobytes; a larger file is not read to its end.
constexpr std::size_t kMaxDesktopEntryBytes = 1024 * 1024;

// Reads the entry at path. The Failure when the file cannot be read (errno), holds more than
// kMaxDesktopEntryBytes (EFBIG), or has no Exec key (NoExecKey).
Result<DesktopEntry> ReadDesktopEntry(const std::string& path);

// The entry's command template cut where its first file or URL field code starts: a quoted one
// ("%u") loses its quotes too, else the first bare %u, %U, %f, %F or %1. In what is kept, %i
// becomes --icon and the Icon value (nothing without an icon), %c the translated name, %k the
// entry's location, each one word however many blanks it holds; "%%" a literal percent sign;
// the deprecated codes (%d %D %n %N %v %m) and any other are removed. The whole template when it
// has no file or URL code.
std::string CutAtFieldCode(const DesktopEntry& entry);
