#include "log/LogText.h"

#include "log/DeviceText.h"

std::string LogEscape(const std::string& text) {
    return EscapeDeviceText(text, ControlEscape::Text);
}
