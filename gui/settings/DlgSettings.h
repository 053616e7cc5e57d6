#pragma once
// The Settings dialog: the telnet program and its arguments, the double-click action and the
// automatic refresh, edited on copies that the caller takes back only on OK.
#include <string>

#include "gui/settings/DialogPersistent.h"

class QAbstractButton;
class QLineEdit;

class CDlgSettings : public CDialogPersistent {
    Q_OBJECT
public:
    explicit CDlgSettings(QWidget* parent = nullptr);
    ~CDlgSettings() override;

    std::string m_strTelnetPath;
    std::string m_strTelnetArgs;
    int m_nDoubleClick = -1;  // index of the selected action button, -1 for none
    int m_bAutoRefresh = 0;
    int m_bRememberDevices = 0;

    void OnBrowse();

protected:
    void DoDataExchange(bool saveAndValidate) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();

    QLineEdit* m_editPath = nullptr;
    QLineEdit* m_editArgs = nullptr;
    // The texts the edits were given: a text left as it was keeps its member's bytes (which a
    // trip through the control could change: bytes that are no UTF-8).
    QString m_shownPath;
    QString m_shownArgs;
    QAbstractButton* m_radioActions[3] = {};
    QAbstractButton* m_checkAutoRefresh = nullptr;
    QAbstractButton* m_checkRemember = nullptr;
    QWidget* m_labelAction = nullptr;
};
