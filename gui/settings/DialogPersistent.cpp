#include "gui/settings/DialogPersistent.h"

#include "gui/framework/WinApp.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <string>

namespace {

constexpr int kPlacementLength = 44;  // eleven 32-bit integers
constexpr int kNoPlacement = -1;      // "Flags" when nothing was ever saved
constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
// How long a restored placement waits for the window manager to report the frame.
constexpr int kPendingCheckMs = 20;
constexpr int kPendingChecks = 50;

// The ten stored values of a placement, in the order they are written; the length is not stored.
struct PlacementEntry {
    const char* name;
    int WINDOWPLACEMENT::*value;
};
constexpr PlacementEntry kPlacementEntries[] = {
    {"Flags", &WINDOWPLACEMENT::flags},    {"ShowCmd", &WINDOWPLACEMENT::showCmd},
    {"PtMinX", &WINDOWPLACEMENT::ptMinX},  {"PtMinY", &WINDOWPLACEMENT::ptMinY},
    {"PtMaxX", &WINDOWPLACEMENT::ptMaxX},  {"PtMaxY", &WINDOWPLACEMENT::ptMaxY},
    {"PosLeft", &WINDOWPLACEMENT::left},   {"PosTop", &WINDOWPLACEMENT::top},
    {"PosRight", &WINDOWPLACEMENT::right}, {"PosBottom", &WINDOWPLACEMENT::bottom},
};

std::string SectionName(unsigned dlgId) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "DlgPos_%d", static_cast<int>(dlgId));
    return buf;
}

}  // namespace

CDialogPersistent::CDialogPersistent(unsigned dlgId, QWidget* parent, int resizable)
    : QDialog(parent), m_nDlgId(dlgId), m_nResizable(resizable), m_wp() {}

CDialogPersistent::~CDialogPersistent() {
    // Deleted while still open (not through the end of DoModal): keep the placement all the same.
    if (m_bWindowOpen) {
        m_bWindowOpen = false;
        CDialogPersistent::SavePlacement();
    }
}

int CDialogPersistent::DoModal() {
    QPointer<CDialogPersistent> alive(this);
    m_bEndRequested = false;
    m_bWindowOpen = true;
    setResult(0);
    OnInitDialog();
    if (!alive)
        return IDCANCEL;
    // EndDialog from OnInitDialog: the dialog is never shown.
    int result = m_bEndRequested ? this->result() : exec();
    if (!alive)
        return IDCANCEL;
    // Hidden without an end (hide() also leaves the modal loop): the window still exists.
    if (m_bWindowOpen) {
        m_bWindowOpen = false;
        OnDestroy();
    }
    return result == QDialog::Rejected ? IDCANCEL : result;
}

void CDialogPersistent::done(int result) {
    QPointer<CDialogPersistent> alive(this);
    m_bEndRequested = true;
    // Closing a dialog destroys its platform window, and with it the geometry to save.
    if (m_bWindowOpen) {
        m_bWindowOpen = false;
        OnDestroy();
        if (!alive)
            return;
    }
    QDialog::done(result);
}

QWidget* CDialogPersistent::GetDlgItem(int id) const {
    return findChild<QWidget*>(QStringLiteral("IDC_%1").arg(id), Qt::FindDirectChildrenOnly);
}

bool CDialogPersistent::UpdateData(bool saveAndValidate) {
    m_bExchangeFailed = false;
    DoDataExchange(saveAndValidate);
    return !m_bExchangeFailed;
}

bool CDialogPersistent::OnInitDialog() {
    RestorePlacement();
    UpdateData(false);
    return true;
}

void CDialogPersistent::DoDataExchange(bool) {}

void CDialogPersistent::OnOK() {
    if (!UpdateData(true))
        return;
    EndDialog(IDOK);
}

QMargins CDialogPersistent::FrameMargins() const {
    const QWindow* window = windowHandle();
    if (window && window->handle() && isVisible())
        return window->frameMargins();
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom());
}

bool CDialogPersistent::GetWindowPlacement(WINDOWPLACEMENT* wp) const {
    if (!wp || !testAttribute(Qt::WA_WState_Created))
        return false;
    const QMargins margins = FrameMargins();
    const QRect frame = geometry().marginsAdded(margins);
    QRect normal = frame;
    const Qt::WindowStates state = windowState();
    if (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        // The rectangle the window returns to, grown by the frame it has now.
        QRect restored = normalGeometry();
        if (restored.isValid())
            normal = restored.marginsAdded(margins);
    }
    wp->length = kPlacementLength;
    wp->flags = 0;
    wp->showCmd = (state & Qt::WindowMinimized)   ? kShowMinimized
                  : (state & Qt::WindowMaximized) ? kShowMaximized
                                                  : kShowNormal;
    // No icon positions on this system; the maximised position is known only while maximised.
    wp->ptMinX = wp->ptMinY = -1;
    wp->ptMaxX = wp->ptMaxY = -1;
    if ((state & Qt::WindowMaximized) && !(state & Qt::WindowMinimized)) {
        wp->ptMaxX = frame.left();
        wp->ptMaxY = frame.top();
    }
    wp->left = normal.left();
    wp->top = normal.top();
    wp->right = normal.left() + normal.width();
    wp->bottom = normal.top() + normal.height();
    return true;
}

void CDialogPersistent::SavePlacement() {
    m_wp.length = kPlacementLength;
    const WINDOWPLACEMENT known = m_wp;
    if (!GetWindowPlacement(&m_wp) || !m_pProfile)
        return;
    // A Wayland client neither learns where its window is nor places it: the position saved
    // before (on X11) stays for the next X11 session, the size goes with it.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && known.flags != kNoPlacement) {
        m_wp.right += known.left - m_wp.left;
        m_wp.bottom += known.top - m_wp.top;
        m_wp.left = known.left;
        m_wp.top = known.top;
    }
    WritePlacement(*m_pProfile, m_nDlgId, m_wp);
}

bool CDialogPersistent::WritePlacement(CWinApp& profile, unsigned dlgId, const WINDOWPLACEMENT& wp) {
    const std::string section = SectionName(dlgId);
    CProfileSave save(profile);
    for (const PlacementEntry& entry : kPlacementEntries)
        save.WriteInt(section.c_str(), entry.name, wp.*entry.value);
    return save.Commit();
}

void CDialogPersistent::LoadPlacement() {
    const std::string section = SectionName(m_nDlgId);
    m_wp = WINDOWPLACEMENT();
    m_wp.length = kPlacementLength;
    m_wp.flags = kNoPlacement;
    CProfileLoad profile(m_pProfile);
    for (const PlacementEntry& entry : kPlacementEntries)
        m_wp.*entry.value = profile.GetInt(section.c_str(), entry.name, m_wp.*entry.value);
}

void CDialogPersistent::RestorePlacement() {
    LoadPlacement();
    m_pendingFrameSize = QSize();
    m_bPendingMove = false;
    if (m_wp.flags == kNoPlacement)
        return;
    QPoint pos(m_wp.left, m_wp.top);
    QSize frameSize(m_wp.right - m_wp.left, m_wp.bottom - m_wp.top);
    // A size that can grow can outgrow a smaller screen: such a window is brought within it.
    const QScreen* screen = QGuiApplication::screenAt(pos + QPoint(1, 1));
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (m_nResizable == 1 && screen) {
        const QRect room = screen->availableGeometry();
        if (frameSize.width() > room.width()) {
            frameSize.setWidth(room.width());
            pos.setX(room.left());
        }
        if (frameSize.height() > room.height()) {
            frameSize.setHeight(room.height());
            pos.setY(room.top());
        }
    }
    // Before creation a top-level position counts the frame in. A window created earlier
    // places its client area, which is right only once its frame is known.
    move(pos);
    if (testAttribute(Qt::WA_WState_Created) && !FrameKnown()) {
        m_pendingFramePos = pos;
        m_bPendingMove = true;
    }
    if (m_nResizable != 1)
        return;
    // A saved rectangle without area would leave an unusable window: keep the template's size.
    if (frameSize.width() <= 0 || frameSize.height() <= 0)
        return;
    if (testAttribute(Qt::WA_WState_Created) && FrameKnown()) {
        resize(frameSize.shrunkBy(FrameMargins()));
    } else {
        // The frame is measured once the window is on the screen.
        resize(frameSize);
        m_pendingFrameSize = frameSize;
    }
}

void CDialogPersistent::ApplyPendingPlacement() {
    if ((!m_pendingFrameSize.isValid() && !m_bPendingMove) || !isVisible() || !FrameKnown())
        return;
    if (m_bPendingMove) {
        m_bPendingMove = false;
        move(m_pendingFramePos);
    }
    if (m_pendingFrameSize.isValid()) {
        const QSize client = m_pendingFrameSize.shrunkBy(FrameMargins());
        m_pendingFrameSize = QSize();
        resize(client);
    }
}

void CDialogPersistent::CheckPendingLater(int checksLeft) {
    QTimer::singleShot(kPendingCheckMs, this, [this, checksLeft] {
        ApplyPendingPlacement();
        if ((m_pendingFrameSize.isValid() || m_bPendingMove) && isVisible() && checksLeft > 1)
            CheckPendingLater(checksLeft - 1);
    });
}

bool CDialogPersistent::event(QEvent* e) {
    const bool handled = QDialog::event(e);
    switch (e->type()) {
    case QEvent::Show:
        ApplyPendingPlacement();
        // The frame's arrival changes no client geometry, so nothing else would tell us.
        if (m_pendingFrameSize.isValid() || m_bPendingMove)
            CheckPendingLater(kPendingChecks);
        break;
    case QEvent::Move:
    case QEvent::Resize:
        ApplyPendingPlacement();
        break;
    case QEvent::Hide:
        m_pendingFrameSize = QSize();
        m_bPendingMove = false;
        break;
    default:
        break;
    }
    return handled;
}
