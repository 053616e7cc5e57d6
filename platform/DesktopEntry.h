#pragma once
// The desktop's registered handlers, found the way xdg-utils finds them: xdg-mime names the
// desktop entry, the XDG data folders hold it, its Exec= key is the command template.
#include <chrono>
#include <string>

// The desktop entry that `xdg-mime query default <mimeType>` names ("firefox-esr.desktop").
// Empty when xdg-mime is missing, fails, names none, or has not answered within the bound.
std::string QueryDefaultDesktopEntry(const std::string& mimeType,
                                     std::chrono::milliseconds bound = std::chrono::seconds(5));

// Full path of the entry with that desktop-file id below applications/ of the XDG data folders
// ($XDG_DATA_HOME, else ~/.local/share; then $XDG_DATA_DIRS, else /usr/local/share:/usr/share),
// the first found; "-" in the id may stand for a subfolder. Empty when there is none.
std::string FindDesktopEntry(const std::string& desktopId);

// The Exec= value of the entry's [Desktop Entry] group with the value escapes (\s \n \t \r \\)
// resolved. False when the file cannot be read or has no such key.
bool ReadDesktopEntryExec(const std::string& path, std::string* exec);

// The command template cut where its first file or URL field code starts: a quoted one ("%u")
// loses its quotes too, else the first bare %u, %U, %f, %F or %1. "%%" is a literal percent
// sign, never a field code, and becomes one in what is kept. The whole template when it has
// none.
std::string CutAtFieldCode(const std::string& commandTemplate);
