#pragma once
// The desktop's own services: its URL opener and its clipboard.
#include <string>

class QUrl;

// Hands the URL to the desktop's opener; true when it took it. Every open goes through here, so
// that one started as root is warned of (WarnStartedAsRoot).
bool OpenWithDesktop(const QUrl& url);

// Hands the address to the desktop's opener (xdg-open, which honours $BROWSER). False, with a
// Warning line in the log, when no opener took it.
bool OpenUrl(const std::string& address);

// Puts the text on the clipboard as plain text, exactly as given.
void SetClipboardText(const std::string& text);
