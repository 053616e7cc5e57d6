#pragma once
// A static text of a dialog that becomes a web link: link, visited and hover colours, an
// underline on hover, the pointing-hand cursor, the target as tooltip, and a click (or Enter or
// Space once Tab has given it the focus; a held key counts once) that opens the target in the
// desktop's browser.
#include <QBasicTimer>
#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>

#include <functional>
#include <optional>
#include <string>

class QUrl;

// COLORREF: red in the low byte, then green, then blue; -1 (all bits set) as "none".
using COLORREF = unsigned;
constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b) {
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
constexpr COLORREF kSystemHighlight = 0xFFFFFFFF;

class CHyperLink : public QLabel {
    Q_OBJECT
    friend class CHyperLinkAccessible;

public:
    static constexpr int UNDERLINE_ALWAYS = 1;
    static constexpr int UNDERLINE_HOVER = -1;
    static constexpr int UNDERLINE_NEVER = 0;

    CHyperLink();

    // Takes the place of the dialog's static text with that control id (its text, place,
    // alignment, font and id) and prepares the link. False when there is no such static.
    bool SubclassDlgItem(int controlId, QWidget* dialog);
    bool IsAttached() const { return m_bAttached; }

    void SetTarget(const std::string& target);
    const std::string& GetTarget() const { return m_strTarget; }
    // kSystemHighlight as hover colour: the palette's highlight colour at this call.
    void SetColors(COLORREF link, COLORREF visited, COLORREF hover = kSystemHighlight);
    void SetWasVisited(bool visited);
    void SetUnderlineMode(int mode);
    int GetUnderlineMode() const { return m_nUnderlineMode; }

    // The colour the text is drawn in now.
    COLORREF CurrentColor() const;
    // The colour the text is painted in: the current colour, or one of the palette's where that
    // would not be read on the link's face.
    QColor DrawnColor() const;
    bool IsMouseOver() const { return m_bMouseOver; }
    bool WasVisited() const { return m_bWasVisited; }
    COLORREF LinkColor() const { return m_colorLink; }
    COLORREF VisitedColor() const { return m_colorVisited; }
    COLORREF HoverColor() const { return m_colorHover; }
    const QFont& UnderlinedFont() const { return m_fontUnderlined; }

    // Opens the address in the desktop's browser and calls done, from the event loop once the
    // opener has said how it went, with a code greater than 32 on success, otherwise the code
    // whose error text fits the failure. An opener that failed is followed by the registered
    // browser. Nothing is called once context has gone.
    static void OpenTarget(const std::string& address, QObject* context, std::function<void(int)> done);
    // The registered browser started directly when the desktop's opener failed with
    // openerResult: the desktop entry xdg-mime names for http (or for HTML files), its Exec=
    // command cut at the file or URL field code (CutAtFieldCode), a blank and the address. openerResult when
    // no browser is registered; the command starter's code otherwise.
    static int OpenWithRegisteredBrowser(const std::string& url, int openerResult);
    // The address as the opener takes it: a bare host name ("www.example.com") gets http://.
    static QUrl WebAddress(const std::string& address);
    // The text of the error box for a result code, prefix included.
    static std::string OpenErrorText(int code);
    // Beeps and shows the error box for a failed open.
    static void ShowOpenError(int code, const std::string& caption);

    // Result codes of the opener and the command starter.
    static constexpr int OPEN_OUT_OF_RESOURCES = 0;
    static constexpr int OPEN_FILE_NOT_FOUND = 2;
    static constexpr int OPEN_ACCESS_DENIED = 5;
    static constexpr int OPEN_NOT_ENOUGH_MEMORY = 8;
    static constexpr int OPEN_BAD_FORMAT = 11;
    static constexpr int OPEN_NO_ASSOCIATION = 31;
    static constexpr int OPEN_SHELL_SUCCESS = 42;
    static constexpr int OPEN_STARTED = 33;

protected:
    virtual void PreSubclassWindow();
    void OnLinkClicked();
    // How the open that OnLinkClicked began went.
    void OnOpenResult(int result);

    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Shrinks the link to its text, toward where the text is aligned.
    void FitToText();
    void LoadHandCursor();
    void OnTimer();
    // Sets a font of the link's own (the fonts given from outside are adopted in changeEvent).
    void ApplyFont(const QFont& font);

    COLORREF m_colorLink;
    COLORREF m_colorVisited;
    COLORREF m_colorHover;
    bool m_bMouseOver = false;
    bool m_bWasVisited = false;
    int m_nUnderlineMode = UNDERLINE_HOVER;
    std::string m_strTarget;
    QFont m_fontUnderlined;
    QFont m_fontPlain;
    std::optional<QCursor> m_hHandCursor;
    QBasicTimer m_hoverTimer;
    bool m_bAttached = false;
    bool m_bPressed = false;
    bool m_bApplyingFont = false;
};
