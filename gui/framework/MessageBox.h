#pragma once
// Start-up and error message boxes: OK only, the application's name as caption.
#include <string>

enum class MessageIcon { None, Warning };

// Shows a modal box with the text, the icon and only an OK button; returns once it has closed.
void ShowMessageBox(const std::string& caption, const std::string& text, MessageIcon icon);
