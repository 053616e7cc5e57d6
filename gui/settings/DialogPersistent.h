#pragma once
// Base of every dialog: reopens where the user last left it (section "DlgPos_<id>" of the
// profile) and carries the dialog framework's shape: DoModal, OnInitDialog, DoDataExchange.
#include <QDialog>
#include <QMargins>
#include <QPoint>
#include <QSize>

class CWinApp;

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
    // Ends the modal loop; DoModal returns result.
    void EndDialog(int result) { done(result); }
    // The control with the given template id, or null.
    QWidget* GetDlgItem(int id) const;
    // Runs DoDataExchange; false when it called FailDataExchange (OnOK then keeps the dialog open).
    bool UpdateData(bool saveAndValidate = true);

    // The application whose settings profile keeps the placement; null (the start): none is
    // read or kept. It outlives the dialog.
    void SetProfile(CWinApp* profile) { m_pProfile = profile; }
    CWinApp* Profile() const { return m_pProfile; }

    void SavePlacement();
    void LoadPlacement();
    void RestorePlacement();
    // The ten values of a placement into the dialog's section, with one save of the file.
    static bool WritePlacement(CWinApp& profile, unsigned dlgId, const WINDOWPLACEMENT& wp);

    // The window's placement: normal rectangle as the frame on the screen, show command
    // 1 normal, 2 minimised, 3 maximised.
    // False when the window has not been created.
    bool GetWindowPlacement(WINDOWPLACEMENT* wp) const;

    unsigned m_nDlgId;
    int m_nResizable;
    WINDOWPLACEMENT m_wp;

    // Escape, the close box and QDialog::reject() go through OnCancel; accept() through OnOK.
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }
    // Every end of the dialog: OnDestroy while the window still exists, then the window goes.
    void done(int result) override;

protected:
    // Restores the placement, then fills the controls (UpdateData(false)). Derived dialogs
    // call it first from their own OnInitDialog.
    virtual bool OnInitDialog();
    // false: members to controls; true: controls to members.
    virtual void DoDataExchange(bool saveAndValidate);
    // Called from DoDataExchange when a value read from a control is not acceptable.
    void FailDataExchange() { m_bExchangeFailed = true; }
    // Saves the placement; derived handlers call it last.
    virtual void OnDestroy() { SavePlacement(); }
    virtual void OnOK();  // UpdateData(true), then ends with IDOK
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    bool event(QEvent* e) override;

private:
    // The frame around the client area as the window system reports it now. QWidget's own frame
    // is the one it saw at the last move or resize, which can be from before the window manager
    // framed the window: a window that then stood still would save its client origin.
    QMargins FrameMargins() const;
    // A window manager reports the frame only after the first show; what needed it waits.
    bool FrameKnown() const { return !FrameMargins().isNull(); }
    void ApplyPendingPlacement();
    void CheckPendingLater(int checksLeft);

    CWinApp* m_pProfile = nullptr;
    bool m_bWindowOpen = false;    // between OnInitDialog and OnDestroy
    bool m_bEndRequested = false;  // EndDialog ran during this opening
    bool m_bExchangeFailed = false;
    QSize m_pendingFrameSize;  // restored frame size waiting for the frame to be known
    QPoint m_pendingFramePos;  // restored frame position, likewise
    bool m_bPendingMove = false;
};
