#include "platform/qt/WindowMessage.h"

#include <QCoreApplication>

CWindowMessageEvent::CWindowMessageEvent(unsigned message, WPARAM wParam, LPARAM lParam,
                                         Disposer disposer)
    : QEvent(EventType()), m_nMessage(message), m_wParam(wParam), m_lParam(lParam),
      m_pDisposer(disposer) {}

CWindowMessageEvent::~CWindowMessageEvent() {
    // Qt deletes events still queued for a receiver that goes away; their payload goes with them.
    if (!m_bTaken && m_pDisposer)
        m_pDisposer(m_nMessage, m_wParam, m_lParam);
}

QEvent::Type CWindowMessageEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CQtMessageTarget::CQtMessageTarget(QObject* receiver, CWindowMessageEvent::Disposer disposer)
    : m_pReceiver(receiver), m_pDisposer(disposer) {}

bool CQtMessageTarget::Deliver(unsigned message, WPARAM wParam, LPARAM lParam) {
    if (!m_pReceiver || !QCoreApplication::instance())
        return false;
    QCoreApplication::postEvent(m_pReceiver,
                                new CWindowMessageEvent(message, wParam, lParam, m_pDisposer));
    return true;
}
