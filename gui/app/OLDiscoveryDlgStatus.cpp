// The main dialog's status line: how many devices the list holds (and shows, while the filter
// narrows it), when the last scan ended, whether one runs, and why the last action failed.
#include "gui/app/OLDiscoveryDlg.h"

#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>
#include <string>

#include "desktop/CommandLine.h"
#include "res/FailureText.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DialogTemplate.h"

void COLDiscoveryDlg::CreateStatusLine() {
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusLine"));
    m_statusBar->setAccessibleName(Text(LoadString(IDS_STATUS_NAME)));
    m_statusBar->setSizeGripEnabled(true);
    // A part's name is what it shows; its description says what the part is.
    auto label = [this](const char* name, const QString& what) {
        auto* text = new QLabel(m_statusBar);
        text->setObjectName(QString::fromLatin1(name));
        text->setTextFormat(Qt::PlainText);
        text->setAccessibleDescription(what);
        return text;
    };
    m_staticCount = label("DeviceCount", tr("Devices"));
    m_staticLastScan = label("LastScan", tr("Last scan"));
    m_busy = new QProgressBar(m_statusBar);
    m_busy->setAccessibleName(tr("Scan in progress"));
    m_busy->setRange(0, 0);  // no steps known: the bar only shows that something runs
    m_busy->setTextVisible(false);
    m_busy->setMaximumSize(60, 12);
    m_staticScanning = label("Scanning", tr("Scan"));
    m_staticFailure = label("ActionFailure", tr("Last action"));
    m_statusBar->addWidget(m_staticCount);
    m_statusBar->addWidget(m_staticLastScan);
    m_statusBar->addWidget(m_busy);
    m_statusBar->addWidget(m_staticScanning);
    m_statusBar->addWidget(m_staticFailure, 1);
    // One height whatever it shows, so the controls above never move when a scan starts.
    m_statusBar->setFixedHeight(m_statusBar->sizeHint().height());
    // Its text starts at the margin the list and the buttons keep; the size grip stays in the
    // window's corner.
    m_statusBar->resize(m_listDevices->width(), m_statusBar->height());
    m_statusBar->layout()->activate();
    m_statusBar->setContentsMargins(std::max(0, m_listDevices->x() - m_staticCount->x()), 0, 0, 0);
    UpdateStatus();
}

void COLDiscoveryDlg::UpdateStatus() {
    const int listed = m_listDevices->topLevelItemCount() - m_listDevices->MissingCount();
    if (!m_listDevices->Filter().isEmpty()) {
        m_staticCount->setText(Text(FormatString2(
            IDS_FILTERED_COUNT, std::to_string(m_listDevices->ShownCount()), std::to_string(listed))));
    } else {
        m_staticCount->setText(Text(listed == 1 ? LoadString(IDS_ONE_DEVICE)
                                                : FormatString1(IDS_DEVICE_COUNT, std::to_string(listed))));
    }
    m_staticLastScan->setVisible(!m_staticLastScan->text().isEmpty());
    const bool scanning = m_nScansRunning > 0;
    m_staticScanning->setText(scanning ? Text(LoadString(IDS_SCANNING)) : QString());
    m_staticScanning->setVisible(scanning);
    m_busy->setVisible(scanning);
}

QString COLDiscoveryDlg::StatusText(int part) const {
    switch (part) {
    case STATUS_COUNT:
        return m_staticCount->text();
    case STATUS_LAST_SCAN:
        return m_staticLastScan->text();
    case STATUS_SCANNING:
        return m_staticScanning->text();
    default:
        return m_staticFailure->text();
    }
}

void COLDiscoveryDlg::BeginAction() {
    ++m_nAction;
    m_staticFailure->clear();
}

void COLDiscoveryDlg::OnActionEnd(unsigned action, const std::string& program, const ProgramEnd& end) {
    if (!end.Failed() || action != m_nAction)
        return;
    std::string text;
    if (end.kind == ProgramEnd::Kind::NotStarted) {
        text = FormatString2(IDS_START_FAILED, program, FailureText(end.failure));
    } else {
        const unsigned why = end.kind == ProgramEnd::Kind::Signalled ? IDS_EXIT_SIGNAL : IDS_EXIT_STATUS;
        text = FormatString2(IDS_PROGRAM_FAILED, program, FormatString1(why, std::to_string(end.value)));
    }
    m_staticFailure->setText(Text(text));
}
