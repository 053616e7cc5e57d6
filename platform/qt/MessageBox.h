#pragma once
// Start-up message boxes: the application name as caption, the framework's OK-only box.
#include <string>

constexpr unsigned MB_OK = 0x00000000;
constexpr unsigned MB_ICONEXCLAMATION = 0x00000030;

// Shows a modal box with the given text and only an OK button; the caption is the
// application's name. Returns 1 (OK) when the box has closed.
int AfxMessageBox(const std::string& text, unsigned type = MB_OK);
