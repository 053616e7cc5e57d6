#include "gui/settings/DlgSettings.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <limits>
#include <string_view>

#include "res/Resource.h"
#include "res/StringTable.h"
#include "gui/settings/DialogTemplate.h"
#include "gui/settings/FileChooser.h"

namespace {

// The chooser's file name buffer holds 256 characters with the terminating zero.
constexpr std::size_t kMaxChosenPath = 255;

// Template IDD_SETTINGS: 221 x 204 dialog units; controls in tab order.
constexpr int kDialogWidthDlu = 221;
constexpr int kDialogHeightDlu = 204;
constexpr ControlTemplate kSettingsControls[] = {
    {IDC_STATIC, ControlKind::Label, QT_TRANSLATE_NOOP("CDlgSettings", "&Telnet Application"), 7, 7, 113, 11},
    {IDC_TELNET_PATH, ControlKind::Edit, "", 7, 19, 188, 12},
    {IDC_BROWSE, ControlKind::PushButton, "...", 197, 19, 17, 12},
    {IDC_STATIC, ControlKind::Label, QT_TRANSLATE_NOOP("CDlgSettings", "Telnet Program &Arguments"), 7, 37,
     113, 11},
    {IDC_TELNET_ARGS, ControlKind::Edit, "", 7, 48, 188, 12},
    {IDC_STATIC, ControlKind::Label, QT_TRANSLATE_NOOP("CDlgSettings", "%1 is replaced with IP Address"), 7,
     64, 113, 11},
    {IDC_ACTION_LABEL, ControlKind::Label, QT_TRANSLATE_NOOP("CDlgSettings", "Double &Click Action"), 7, 85,
     97, 10},
    {IDC_ACTION_BROWSER, ControlKind::Radio, QT_TRANSLATE_NOOP("CDlgSettings", "Open Browser"), 11, 98, 61,
     10},
    {IDC_ACTION_TELNET, ControlKind::Radio, QT_TRANSLATE_NOOP("CDlgSettings", "Open Telnet"), 11, 109, 55,
     10},
    {IDC_ACTION_COPYIP, ControlKind::Radio, QT_TRANSLATE_NOOP("CDlgSettings", "Copy IP Address to Clipboard"),
     11, 120, 107, 10},
    {IDOK, ControlKind::DefPushButton, QT_TRANSLATE_NOOP("CDlgSettings", "OK"), 110, 183, 50, 14},
    {IDCANCEL, ControlKind::PushButton, QT_TRANSLATE_NOOP("CDlgSettings", "Cancel"), 164, 183, 50, 14},
    {IDC_STATIC, ControlKind::Label, QT_TRANSLATE_NOOP("CDlgSettings", "Automatic Refresh"), 7, 139, 94, 9},
    {IDC_AUTO_REFRESH, ControlKind::CheckBox,
     QT_TRANSLATE_NOOP("CDlgSettings", "&Refresh list automatically"), 12, 151, 102, 11},
    {IDC_REMEMBER_DEVICES, ControlKind::CheckBox,
     QT_TRANSLATE_NOOP("CDlgSettings", "Re&member devices between runs"), 12, 165, 130, 11},
};

}  // namespace

CDlgSettings::CDlgSettings(QWidget* parent) : CDialogPersistent(IDD_SETTINGS, parent, 0) {
    CreateControls();
}

CDlgSettings::~CDlgSettings() = default;

void CDlgSettings::CreateControls() {
    setWindowTitle(tr("Settings"));
    // A modal frame with caption and close box; no minimise or maximise box, no sizing.
    const DialogUnits dlu = SetTemplateFrame(*this, kDialogWidthDlu, kDialogHeightDlu);

    QLabel* pendingLabel = nullptr;  // a mnemonic label takes the keyboard to the next control
    int radioIndex = 0;
    for (const ControlTemplate& item : kSettingsControls) {
        QWidget* control = nullptr;
        switch (item.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(tr(item.text), this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            if (std::string_view(item.text).find('&') != std::string_view::npos)
                pendingLabel = label;
            control = label;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(this);
            // The default of 32,767 characters would cut a longer value that nobody edited.
            edit->setMaxLength(std::numeric_limits<int>::max());
            (item.id == IDC_TELNET_PATH ? m_editPath : m_editArgs) = edit;
            control = edit;
            break;
        }
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* button = new QPushButton(tr(item.text), this);
            button->setDefault(item.kind == ControlKind::DefPushButton);
            if (item.id == IDC_BROWSE)
                button->setAccessibleName(tr("Choose the telnet program"));
            control = button;
            break;
        }
        case ControlKind::Radio:
            control = m_radioActions[radioIndex++] = new QRadioButton(tr(item.text), this);
            break;
        case ControlKind::CheckBox:
            control = (item.id == IDC_AUTO_REFRESH ? m_checkAutoRefresh : m_checkRemember) =
                new QCheckBox(tr(item.text), this);
            break;
        case ControlKind::ListView:
            continue;  // none in this template
        }
        if (pendingLabel && control != pendingLabel) {
            pendingLabel->setBuddy(control);
            pendingLabel = nullptr;
        }
        if (item.id == IDC_ACTION_LABEL)
            m_labelAction = control;
        PlaceControl(*control, item, dlu);
    }
    // Alt+C goes to the selected action; the buddy alone would click the first button.
    m_labelAction->installEventFilter(this);

    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_BROWSE)), &QPushButton::clicked, this,
            [this] { OnBrowse(); });
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDOK)), &QPushButton::clicked, this, [this] { accept(); });
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDCANCEL)), &QPushButton::clicked, this,
            [this] { reject(); });
}

bool CDlgSettings::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_labelAction && event->type() == QEvent::Shortcut) {
        QAbstractButton* target = m_radioActions[0];
        for (QAbstractButton* radio : m_radioActions) {
            if (radio->isChecked())
                target = radio;
        }
        target->setFocus(Qt::ShortcutFocusReason);
        return true;
    }
    return CDialogPersistent::eventFilter(watched, event);
}

void CDlgSettings::DoDataExchange(bool saveAndValidate) {
    CDialogPersistent::DoDataExchange(saveAndValidate);
    if (saveAndValidate) {
        if (m_editPath->text() != m_shownPath)
            m_strTelnetPath = m_editPath->text().toStdString();
        if (m_editArgs->text() != m_shownArgs)
            m_strTelnetArgs = m_editArgs->text().toStdString();
        m_nDoubleClick = -1;
        for (int i = 0; i < 3; ++i) {
            if (m_radioActions[i]->isChecked())
                m_nDoubleClick = i;
        }
        m_bAutoRefresh = m_checkAutoRefresh->isChecked() ? 1 : 0;
        m_bRememberDevices = m_checkRemember->isChecked() ? 1 : 0;
    } else {
        m_editPath->setText(Text(m_strTelnetPath));
        m_editArgs->setText(Text(m_strTelnetArgs));
        m_shownPath = m_editPath->text();
        m_shownArgs = m_editArgs->text();
        // An index outside the group leaves every button clear, which exclusivity would forbid.
        for (int i = 0; i < 3; ++i) {
            m_radioActions[i]->setAutoExclusive(false);
            m_radioActions[i]->setChecked(i == m_nDoubleClick);
        }
        for (QAbstractButton* radio : m_radioActions)
            radio->setAutoExclusive(true);
        m_checkAutoRefresh->setChecked(m_bAutoRefresh != 0);
        m_checkRemember->setChecked(m_bRememberDevices != 0);
    }
}

void CDlgSettings::OnBrowse() {
    QFileDialog chooser(this, Text(LoadString(IDS_SELECT_TELNET)));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::AnyFile);  // a typed name is taken as it is
    chooser.setNameFilter(Text(LoadString(IDS_ALL_FILES)));
    const std::string path = ChooseFile(chooser);
    if (path.empty() || path.size() > kMaxChosenPath)
        return;
    // What the user changed before browsing stays: the controls are read first.
    UpdateData(true);
    m_strTelnetPath = path;
    UpdateData(false);
}
