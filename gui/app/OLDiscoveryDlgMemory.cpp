// The main dialog's memory of devices between scans and runs: new rows marked, missing ones
// listed greyed, "Forget device", the optional columns, the fleet file's names, expectations and
// approved builds, and the desktop notifications.
#include "gui/app/OLDiscoveryDlg.h"

#include <QDateTime>
#include <QLabel>

#include <algorithm>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "engine/KnownDevices.h"
#include "formats/FleetFile.h"
#include "gui/app/DesktopNotifier.h"
#include "gui/app/DeviceMemory.h"
#include "log/Log.h"
#include "res/FailureText.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DialogTemplate.h"
#include "gui/settings/Prefs.h"

namespace {

// The scans in a row a device may miss before it is gone, unless the fleet file says.
constexpr unsigned long kGoneAfter = 3;

std::string KeyText(const CKnownDevices::Key& key) {
    return std::get<0>(key) + " " + std::get<1>(key) + " " + std::get<2>(key);
}

// The device as a notification names it: its name first when it has one.
std::string NoticeText(const COrvalink& device, const QString& name) {
    const std::string what =
        device.m_strIP + ", " + device.m_strMAC + ", " + device.m_strType + " " + device.m_strBuild;
    return name.isEmpty() ? what : name.toStdString() + " (" + what + ")";
}

}  // namespace

void COLDiscoveryDlg::ApplyWindowSettings() {
    const bool remember = m_pPrefs && m_pPrefs->GetRememberDevices();
    const bool notify = m_pPrefs && m_pPrefs->GetDesktopNotifications();
    const unsigned columns = m_pPrefs ? m_pPrefs->GetColumns() : 0;
    m_listDevices->ShowColumns(columns);
    // The fleet is read once something shows what it says; a file named in the settings must be
    // there, the system's is read when present.
    const std::string fleetFile = m_pPrefs ? m_pPrefs->GetFleetFile() : std::string();
    const bool fleetShown = remember || notify || !fleetFile.empty() || columns != 0;
    const std::string fleetPath = fleetFile.empty() ? kDefaultFleetFile : fleetFile;
    if (!fleetShown)
        m_pFleet.reset();
    else if (!m_pFleet || m_pFleet->Path() != fleetPath)
        m_pFleet = std::make_unique<CFleetWatch>(fleetPath, !fleetFile.empty());
    if (RefreshFleet())
        m_listDevices->UpdateRows([this](const COrvalink& device, RowExtras& extras) {
            const RowExtras fleet = ExtrasFor(device);
            extras.name = fleet.name;
            extras.approved = fleet.approved;
        });
    if (!notify)
        m_pNotifier.reset();
    else if (!m_pNotifier)
        m_pNotifier = std::make_unique<CDesktopNotifier>();
    const std::string path = remember ? CDeviceMemory::DefaultPath() : std::string();
    if (!remember && !notify) {
        m_pMemory.reset();
        return;
    }
    if (m_pMemory && m_pMemory->Path() == path)
        return;
    m_pMemory = std::make_unique<CDeviceMemory>(path);
    m_bMemoryFailing = false;
    // A memory for this run only knows nothing yet: what its first scan finds is not news.
    m_bBaseline = path.empty();
    ShowMemoryFailure(m_pMemory->Load());
}

void COLDiscoveryDlg::ShowMemoryFailure(const Failure& failure) {
    if (!failure) {
        m_bMemoryFailing = false;
        return;
    }
    if (m_bMemoryFailing)
        return;
    m_bMemoryFailing = true;
    std::string why = FailureText(failure);
    if (failure.code == std::errc::resource_unavailable_try_again)
        why = failure.subject + "; the devices are kept until the next scan";  // another writer's lock
    else if (!failure.subject.empty() && why.find(failure.subject) == std::string::npos)
        why = failure.subject + ": " + why;
    const std::string text = FormatString2(IDS_MEMORY_FAILED, m_pMemory->Path(), why);
    LogWrite(LOG_WARNING, "%s", text.c_str());
    m_staticFailure->setText(Text(text));
}

bool COLDiscoveryDlg::RefreshFleet() {
    if (!m_pFleet)
        return false;
    const CFleetWatch::Outcome outcome = m_pFleet->Refresh();
    if (outcome == CFleetWatch::Outcome::Refused) {
        const std::string text = FormatString2(IDS_FLEET_FAILED, m_pFleet->Path(), FailureText(m_pFleet->Fault()));
        LogWrite(LOG_WARNING, "%s", text.c_str());
        m_staticFailure->setText(Text(text));
    }
    return outcome == CFleetWatch::Outcome::Loaded;
}

RowExtras COLDiscoveryDlg::ExtrasFor(const COrvalink& device) const {
    RowExtras extras;
    extras.lastSeen = QDateTime::currentDateTime();
    const Fleet* fleet = m_pFleet ? m_pFleet->Active() : nullptr;
    if (!fleet)
        return extras;
    if (const FleetDevice* known = fleet->Find(device.m_strMAC))
        extras.name = QString::fromStdString(known->name);
    if (const std::optional<bool> approved = fleet->BuildApproved(device.m_strType, device.m_strBuild))
        extras.approved = Text(LoadString(*approved ? IDS_APPROVED_YES : IDS_APPROVED_NO));
    return extras;
}

const FleetDevice* COLDiscoveryDlg::FleetEntry(const std::string& mac) const {
    const Fleet* fleet = m_pFleet ? m_pFleet->Active() : nullptr;
    return fleet ? fleet->Find(mac) : nullptr;
}

void COLDiscoveryDlg::RememberScan(bool complete) {
    std::vector<COrvalink> devices;
    devices.swap(m_scanDevices);
    // A new version of the fleet file names the rows of this scan too.
    if (RefreshFleet())
        m_listDevices->UpdateRows([this](const COrvalink& device, RowExtras& extras) {
            const RowExtras fleet = ExtrasFor(device);
            extras.name = fleet.name;
            extras.approved = fleet.approved;
        });
    if (!m_pMemory || !complete)
        return;
    MemoryScan scan;
    const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const auto goneAfter = [this](const KnownDevice& known) -> unsigned long {
        const FleetDevice* entry = FleetEntry(known.mac);
        // A transient device comes and goes: it is never gone.
        if (entry && entry->expect == FleetDevice::Expect::Transient)
            return std::numeric_limits<unsigned long>::max();
        return entry && entry->goneAfter ? static_cast<unsigned long>(*entry->goneAfter) : kGoneAfter;
    };
    const auto retired = [this](const KnownDevice& known) {
        const FleetDevice* entry = FleetEntry(known.mac);
        return entry && entry->retired;
    };
    ShowMemoryFailure(m_pMemory->Record(devices, now, goneAfter, scan, retired));
    const bool baseline = std::exchange(m_bBaseline, false);

    if (m_pPrefs && m_pPrefs->GetRememberDevices()) {
        const std::set<CKnownDevices::Key> added(scan.added.begin(), scan.added.end());
        m_listDevices->UpdateRows([&](const COrvalink& device, RowExtras& extras) {
            if (added.count(KnownKey(device)))
                extras.state = RowExtras::State::New;
        });
        for (const KnownDevice& known : scan.missing) {
            const COrvalink device = AsDevice(known);
            RowExtras extras = ExtrasFor(device);
            extras.state = RowExtras::State::Missing;
            extras.lastSeen = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(known.lastSeen * 1000.0));
            m_listDevices->AddDevice(device, extras);
        }
    }

    if (!m_pNotifier)
        return;
    // Nothing is told of a device the fleet says to ignore.
    const auto told = [this](const COrvalink& device) {
        const FleetDevice* entry = FleetEntry(device.m_strMAC);
        return !entry || entry->expect != FleetDevice::Expect::Ignore;
    };
    std::erase_if(devices, [&](const COrvalink& device) { return !told(device); });
    std::erase_if(scan.gone, [&](const KnownDevice& known) { return !told(AsDevice(known)); });
    std::vector<DeviceNotice> notices;
    if (!baseline) {
        for (const COrvalink& device : devices) {
            const CKnownDevices::Key key = KnownKey(device);
            if (std::find(scan.added.begin(), scan.added.end(), key) != scan.added.end())
                notices.push_back(
                    {DeviceEvent::New, KeyText(key), NoticeText(device, ExtrasFor(device).name)});
        }
    }
    for (const KnownDevice& known : scan.gone) {
        const COrvalink device = AsDevice(known);
        notices.push_back(
            {DeviceEvent::Gone, KeyText(KnownKey(device)), NoticeText(device, ExtrasFor(device).name)});
    }
    const Fleet* fleet = m_pFleet ? m_pFleet->Active() : nullptr;
    for (const COrvalink& device : devices) {
        const RowExtras extras = ExtrasFor(device);
        if (fleet && fleet->BuildApproved(device.m_strType, device.m_strBuild) == false)
            notices.push_back({DeviceEvent::BuildNotApproved,
                               KeyText(KnownKey(device)) + " " + device.m_strBuild,
                               NoticeText(device, extras.name)});
    }
    m_pNotifier->Notify(notices);
}

void COLDiscoveryDlg::OnForgetDevice() {
    const RowExtras* state = m_listDevices->RowState(m_nContextRow);
    if (!state || state->state != RowExtras::State::Missing)
        return;
    BeginAction();
    if (m_pMemory)
        ShowMemoryFailure(m_pMemory->Forget(KnownKey(*m_listDevices->RowDevice(m_nContextRow))));
    delete m_listDevices->takeTopLevelItem(m_nContextRow);
    m_nContextRow = -1;
    UpdateStatus();
}
