#include "gui/app/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DialogTemplate.h"

namespace {

struct EventTexts {
    DeviceEvent event;
    unsigned one, many;
};
constexpr EventTexts kEventTexts[] = {
    {DeviceEvent::New, IDS_NOTE_NEW, IDS_NOTE_NEW_MANY},
    {DeviceEvent::Gone, IDS_NOTE_GONE, IDS_NOTE_GONE_MANY},
    {DeviceEvent::BuildNotApproved, IDS_NOTE_BUILD, IDS_NOTE_BUILD_MANY},
};

}  // namespace

std::vector<Notification> CDesktopNotifier::Take(const std::vector<DeviceNotice>& notices) {
    std::vector<Notification> out;
    for (const EventTexts& texts : kEventTexts) {
        std::vector<const DeviceNotice*> fresh;
        for (const DeviceNotice& notice : notices) {
            if (notice.event == texts.event && m_told.emplace(notice.event, notice.device).second)
                fresh.push_back(&notice);
        }
        if (fresh.size() >= kGroupFrom) {
            Notification grouped{FormatString1(texts.many, std::to_string(fresh.size())), {}};
            for (const DeviceNotice* notice : fresh)
                grouped.body += (grouped.body.empty() ? "" : "\n") + notice->text;
            out.push_back(std::move(grouped));
            continue;
        }
        for (const DeviceNotice* notice : fresh)
            out.push_back({FormatString1(texts.one, notice->text), {}});
    }
    return out;
}

void CDesktopNotifier::Notify(const std::vector<DeviceNotice>& notices) {
    for (const Notification& note : Take(notices)) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (the
        // server's own).
        call << QStringLiteral("OLDiscovery") << 0u << QStringLiteral("oldiscovery") << Text(note.summary)
             << Text(note.body) << QStringList() << QVariantMap() << -1;
        // Not waited for: the window never stops for the desktop.
        QDBusConnection::sessionBus().send(call);
    }
}
