#pragma once
// Desktop notifications of what the scans found: a new device, a device gone, a build not
// approved, through the desktop's notification service (org.freedesktop.Notifications on the
// session bus). Each device and event is told at most once in a run; many of one event that
// come together are told in one notification.
#include <set>
#include <string>
#include <utility>
#include <vector>

enum class DeviceEvent { New, Gone, BuildNotApproved };

struct DeviceNotice {
    DeviceEvent event = DeviceEvent::New;
    std::string device;  // which one: its interface, IP and MAC (a new build is a new notice)
    std::string text;    // the device as a person reads it
};

struct Notification {
    std::string summary, body;
};

class CDesktopNotifier {
public:
    // From this many of one event at once, one notification tells them all.
    static constexpr std::size_t kGroupFrom = 4;

    // The notifications for notices, leaving out those told before (which it then remembers).
    std::vector<Notification> Take(const std::vector<DeviceNotice>& notices);
    // Takes notices and sends what is left; a desktop without the service shows nothing.
    void Notify(const std::vector<DeviceNotice>& notices);

private:
    std::set<std::pair<DeviceEvent, std::string>> m_told;
};
