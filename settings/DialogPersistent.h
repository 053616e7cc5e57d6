#pragma once
// Base of every dialog: reopens where the user last left it (section "DlgPos_<id>" of the
// profile) and carries the dialog framework's shape: DoModal, OnInitDialog, DoDataExchange.
#include <QDialog>

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// The eleven integers of a window placement record.
struct WINDOWPLACEMENT {
    int length = 0;
    int flags = 0;
    int showCmd = 0;
    int ptMinX = 0, ptMinY = 0;
    int ptMaxX = 0, ptMaxY = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
};

class CDialogPersistent : public QDialog {
    Q_OBJECT
public:
    CDialogPersistent(unsigned dlgId, QWidget* parent, int resizable);
    ~CDialogPersistent() override;

    // Runs the dialog modally: OnInitDialog once before it is first shown, then the modal loop;
    // OnDestroy when it ends. IDOK (1) for OK, IDCANCEL (2) for Cancel, Escape and the close box.
    int DoModal();
    // Runs DoDataExchange; true when it succeeded.
    bool UpdateData(bool saveAndValidate = true);

    void SavePlacement();
    void LoadPlacement();
    void RestorePlacement();

    unsigned m_nDlgId;
    int m_nResizable;
    WINDOWPLACEMENT m_wp;

protected:
    // Restores the placement, then fills the controls (UpdateData(false)). Derived dialogs
    // call it first from their own OnInitDialog.
    virtual bool OnInitDialog();
    // false: members to controls; true: controls to members.
    virtual void DoDataExchange(bool saveAndValidate);
    // Saves the placement; derived handlers call it last.
    virtual void OnDestroy();
    virtual void OnOK();      // UpdateData(true), then ends with IDOK
    virtual void OnCancel();  // ends with IDCANCEL
};
