#pragma once
// Window messages delivered to a Qt object on its own thread: the poster's thread queues a
// QEvent (QCoreApplication::postEvent is thread-safe) and the receiver handles it in its
// event loop, in posting order.
#include <QEvent>
#include <QObject>

#include "platform/Messages.h"

using LRESULT = std::intptr_t;

class CWindowMessageEvent : public QEvent {
public:
    // Frees whatever a message's parameters own when the message is never handled.
    using Disposer = void (*)(unsigned message, WPARAM wParam, LPARAM lParam);

    CWindowMessageEvent(unsigned message, WPARAM wParam, LPARAM lParam, Disposer disposer);
    ~CWindowMessageEvent() override;
    CWindowMessageEvent(const CWindowMessageEvent&) = delete;
    CWindowMessageEvent& operator=(const CWindowMessageEvent&) = delete;

    static QEvent::Type EventType();

    unsigned Message() const { return m_nMessage; }
    WPARAM WParam() const { return m_wParam; }
    LPARAM LParam() const { return m_lParam; }
    // The handler now owns what the parameters point to; the event will not free it.
    void Take() { m_bTaken = true; }

private:
    unsigned m_nMessage;
    WPARAM m_wParam;
    LPARAM m_lParam;
    Disposer m_pDisposer;
    bool m_bTaken = false;
};

// Registry target that turns posted window messages into events for one receiver. The receiver
// must be unregistered (UnregisterWindow) before it is destroyed.
class CQtMessageTarget : public IMessageTarget {
public:
    CQtMessageTarget(QObject* receiver, CWindowMessageEvent::Disposer disposer);
    bool Deliver(unsigned message, WPARAM wParam, LPARAM lParam) override;

private:
    QObject* m_pReceiver;
    CWindowMessageEvent::Disposer m_pDisposer;
};
