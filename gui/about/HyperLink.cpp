#include "gui/about/HyperLink.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimerEvent>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "desktop/CommandLine.h"
#include "desktop/DesktopEntry.h"
#include "desktop/Desktop.h"
#include "gui/framework/Contrast.h"
#include "gui/framework/MessageBox.h"
#include "gui/framework/WinApp.h"
#include "gui/settings/DialogPersistent.h"

namespace {

constexpr int kHoverPollMs = 100;
// The sizes of the lookup's text buffers: a handler's name or command template must fit the
// value buffer, the composed command line the command buffer (each with its terminator).
constexpr size_t kValueBufferSize = 260;
constexpr size_t kCommandBufferSize = 520;

// Where the desktop keeps the web browser, and failing that the HTML viewer.
constexpr const char* kBrowserTypes[] = {"x-scheme-handler/http", "text/html"};

constexpr std::pair<int, const char*> kOpenErrors[] = {
    {0, QT_TRANSLATE_NOOP("CHyperLink", "The operating system is out\nof memory or resources.")},
    {2, QT_TRANSLATE_NOOP("CHyperLink", "The specified file was not found.")},
    {3, QT_TRANSLATE_NOOP("CHyperLink", "The specified path was not found.")},
    {5, QT_TRANSLATE_NOOP("CHyperLink", "The operating system denied\naccess to the specified file.")},
    {8, QT_TRANSLATE_NOOP("CHyperLink", "There was not enough memory to complete the operation.")},
    {11,
     QT_TRANSLATE_NOOP("CHyperLink", "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).")},
    {26, QT_TRANSLATE_NOOP("CHyperLink", "A sharing violation occurred. ")},
    {27, QT_TRANSLATE_NOOP("CHyperLink", "The filename association is\nincomplete or invalid.")},
    {28, QT_TRANSLATE_NOOP("CHyperLink",
                           "The DDE transaction could not\nbe completed because the request timed out.")},
    {29, QT_TRANSLATE_NOOP("CHyperLink", "The DDE transaction failed.")},
    {30, QT_TRANSLATE_NOOP("CHyperLink",
                           "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
                           "being processed.")},
    {31, QT_TRANSLATE_NOOP("CHyperLink",
                           "There is no application associated\nwith the given filename extension.")},
    {32, QT_TRANSLATE_NOOP("CHyperLink", "The specified dynamic-link library was not found.")},
};

QColor ColorFromRef(COLORREF color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

// The box speaks in result codes.
int CodeForStartFailure(const Failure& failure) {
    const std::error_code& code = failure.code;
    if (failure == Errc::ProgramNotFound || code == std::errc::no_such_file_or_directory)
        return CHyperLink::OPEN_FILE_NOT_FOUND;
    if (failure == Errc::NotExecutable || code == std::errc::permission_denied)
        return CHyperLink::OPEN_ACCESS_DENIED;
    if (code == std::errc::executable_format_error)
        return CHyperLink::OPEN_BAD_FORMAT;
    return CHyperLink::OPEN_OUT_OF_RESOURCES;
}

// The desktop entry of the registered handler for one type; false when there is none or its
// command template does not fit the value buffer.
bool RegisteredHandler(const char* type, DesktopEntry* handler) {
    std::string id = QueryDefaultDesktopEntry(type);
    if (id.empty() || id.size() >= kValueBufferSize)
        return false;
    std::string path = FindDesktopEntry(id);
    if (path.empty())
        return false;
    Result<DesktopEntry> entry = ReadDesktopEntry(path);
    if (!entry)
        return false;
    *handler = std::move(*entry);
    return !handler->exec.empty() && handler->exec.size() < kValueBufferSize;
}

}  // namespace

// A screen reader meets the link as a link: its text as the name, the full address as the
// description, and a press that opens it as a click does.
class CHyperLinkAccessible : public QAccessibleWidget {
public:
    explicit CHyperLinkAccessible(CHyperLink* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        const auto* link = static_cast<const CHyperLink*>(widget());
        if (t == QAccessible::Name)
            return link->text();
        if (t == QAccessible::Description)
            return CHyperLink::WebAddress(link->GetTarget()).toString();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction())
            static_cast<CHyperLink*>(widget())->OnLinkClicked();
        else
            QAccessibleWidget::doAction(action);
    }
};

namespace {

QAccessibleInterface* HyperLinkAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(CHyperLink::staticMetaObject.className()))
        return new CHyperLinkAccessible(static_cast<CHyperLink*>(object));
    return nullptr;
}

}  // namespace

CHyperLink::CHyperLink()
    : m_colorLink(RGB(0, 0, 238)), m_colorVisited(RGB(85, 26, 139)), m_colorHover(RGB(255, 0, 0)) {
    static const bool factoryInstalled = (QAccessible::installFactory(HyperLinkAccessible), true);
    (void)factoryInstalled;
}

QColor CHyperLink::DrawnColor() const {
    // The link's own colours were chosen for a light face; on another (a dark palette) the
    // palette's link colours take over where they would not be read, and the text's colour
    // where even those would not.
    const QColor face = palette().color(QPalette::Window);
    const QColor own = ColorFromRef(CurrentColor());
    for (const QColor& color : {own, palette().color(m_bWasVisited ? QPalette::LinkVisited : QPalette::Link),
                                palette().color(QPalette::WindowText)}) {
        if (ContrastRatio(color, face) >= kReadableContrast)
            return color;
    }
    return own;
}

bool CHyperLink::SubclassDlgItem(int controlId, QWidget* dialog) {
    if (!dialog || m_bAttached)
        return false;
    const QList<QLabel*> labels = dialog->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    const auto found = std::ranges::find_if(labels, [&](const QLabel* label) {
        return label != this && label->property("controlId").toInt() == controlId;
    });
    if (found == labels.end())
        return false;
    QLabel* original = *found;
    // The static's window goes on as the link: same place, text, alignment, font and id.
    setParent(dialog);
    setObjectName(original->objectName());
    setProperty("controlId", controlId);
    setTextFormat(Qt::PlainText);
    setText(original->text());
    setAlignment(original->alignment());
    if (original->testAttribute(Qt::WA_SetFont))
        setFont(original->font());
    setGeometry(original->geometry());
    stackUnder(original);
    setVisible(!original->isHidden());
    delete original;
    m_bAttached = true;
    PreSubclassWindow();
    return true;
}

void CHyperLink::PreSubclassWindow() {
    // Clicks and pointer movement reach the link; the keyboard too, for those without a mouse.
    // Only Tab gives it the focus: after a click, Enter still presses the dialog's default button.
    setMouseTracking(true);
    setFocusPolicy(Qt::TabFocus);
    if (m_strTarget.empty())
        m_strTarget = text().toStdString();
    if (text().isEmpty())
        setText(QString::fromStdString(m_strTarget));
    m_fontPlain = font();
    m_fontUnderlined = m_fontPlain;
    m_fontUnderlined.setUnderline(true);
    FitToText();
    LoadHandCursor();
    setCursor(*m_hHandCursor);
    SetUnderlineMode(UNDERLINE_HOVER);
    setToolTip(QString::fromStdString(m_strTarget));
}

void CHyperLink::SetTarget(const std::string& target) {
    m_strTarget = target;
    if (!m_bAttached)
        return;
    FitToText();
    setToolTip(QString::fromStdString(m_strTarget));
}

void CHyperLink::SetColors(COLORREF link, COLORREF visited, COLORREF hover) {
    m_colorLink = link;
    m_colorVisited = visited;
    const QColor highlight = palette().color(QPalette::Active, QPalette::Highlight);
    m_colorHover =
        hover == kSystemHighlight ? RGB(highlight.red(), highlight.green(), highlight.blue()) : hover;
    if (m_bAttached)
        update();
}

void CHyperLink::SetWasVisited(bool visited) {
    m_bWasVisited = visited;
    if (m_bAttached)
        update();
}

void CHyperLink::SetUnderlineMode(int mode) {
    if (mode == m_nUnderlineMode)
        return;
    if (m_bAttached) {
        ApplyFont(mode == UNDERLINE_ALWAYS ? m_fontUnderlined : m_fontPlain);
        update();
    }
    m_nUnderlineMode = mode;
}

void CHyperLink::ApplyFont(const QFont& font) {
    m_bApplyingFont = true;
    setFont(font);
    m_bApplyingFont = false;
}

void CHyperLink::changeEvent(QEvent* event) {
    // A font the dialog gives the link becomes its plain and underlined face, so the text
    // keeps its size when the pointer comes over it.
    if (event->type() == QEvent::FontChange && m_bAttached && !m_bApplyingFont) {
        const bool underlined = font().underline();
        m_fontPlain = font();
        m_fontPlain.setUnderline(false);
        m_fontUnderlined = m_fontPlain;
        m_fontUnderlined.setUnderline(true);
        if (underlined !=
            (m_nUnderlineMode == UNDERLINE_ALWAYS || (m_nUnderlineMode == UNDERLINE_HOVER && m_bMouseOver)))
            ApplyFont(underlined ? m_fontPlain : m_fontUnderlined);
    }
    QLabel::changeEvent(event);
}

void CHyperLink::FitToText() {
    if (!m_bAttached)
        return;
    const QSize textSize = QFontMetrics(m_fontUnderlined).size(Qt::TextSingleLine, text());
    const QRect client = contentsRect();
    const int needW = textSize.width() + (width() - client.width());
    const int needH = textSize.height() + (height() - client.height());
    // One axis: centred text keeps the middle, right-aligned text the far edge, other the near one.
    auto fit = [](int& start, int& size, int need, bool centred, bool toFarEdge) {
        if (centred) {
            const int inward = (size - need) / 2;
            start += inward;
            size -= 2 * inward;
            return;
        }
        if (toFarEdge)
            start += size - need;
        size = need;
    };
    int left = x(), top = y(), w = width(), h = height();
    fit(left, w, needW, alignment() & Qt::AlignHCenter, alignment() & Qt::AlignRight);
    fit(top, h, needH, alignment() & Qt::AlignVCenter, false);
    setGeometry(left, top, w, h);
}

void CHyperLink::LoadHandCursor() {
    if (!m_hHandCursor)
        m_hHandCursor = QCursor(Qt::PointingHandCursor);
}

COLORREF CHyperLink::CurrentColor() const {
    if (m_bMouseOver)
        return m_colorHover;
    return m_bWasVisited ? m_colorVisited : m_colorLink;
}

void CHyperLink::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(DrawnColor());
    painter.setFont(font());
    painter.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, text());
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event) {
    if (!m_bMouseOver) {
        m_bMouseOver = true;
        if (m_nUnderlineMode == UNDERLINE_HOVER)
            ApplyFont(m_fontUnderlined);
        update();
        // Polled rather than told: the pointer may leave straight into another window.
        m_hoverTimer.start(kHoverPollMs, this);
    }
    QLabel::mouseMoveEvent(event);
}

void CHyperLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_bPressed = true;
    QLabel::mousePressEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    const bool click =
        m_bPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_bPressed = false;
    if (click) {
        OnLinkClicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier)) {
        // A held key opens the link once; its repeats are taken here, not passed to the
        // dialog, where Enter would press the default button.
        if (!event->isAutoRepeat())
            OnLinkClicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void CHyperLink::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_hoverTimer.timerId())
        OnTimer();
    else
        QLabel::timerEvent(event);
}

void CHyperLink::OnTimer() {
    if (rect().contains(mapFromGlobal(QCursor::pos())))
        return;
    m_bMouseOver = false;
    m_hoverTimer.stop();
    if (m_nUnderlineMode != UNDERLINE_ALWAYS)
        ApplyFont(m_fontPlain);
    update();
}

void CHyperLink::OnLinkClicked() {
    m_bMouseOver = false;
    update();
    OpenTarget(m_strTarget, this, [this](int result) { OnOpenResult(result); });
}

void CHyperLink::OnOpenResult(int result) {
    m_bWasVisited = result > 32;
    update();
    if (m_bWasVisited)
        return;
    QApplication::beep();
    // The box is captioned as the dialog's application names itself.
    const auto* dialog = qobject_cast<const CDialogPersistent*>(window());
    ShowOpenError(result, dialog && dialog->Profile() ? dialog->Profile()->AppName() : std::string());
}

QUrl CHyperLink::WebAddress(const std::string& address) {
    QString text = QString::fromStdString(address).trimmed();
    // A scheme is letters before a colon; "host:8080" is a host with its port.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?![0-9])"));
    if (!scheme.match(text).hasMatch())
        text.prepend(QStringLiteral("http://"));
    return QUrl(text, QUrl::TolerantMode);
}

void CHyperLink::OpenTarget(const std::string& address, QObject* context, std::function<void(int)> done) {
    const QUrl url = WebAddress(address);
    OpenWithDesktop(url, context, [url, done](const std::string&, const ProgramEnd& end) {
        if (!end.Failed()) {
            done(OPEN_SHELL_SUCCESS);
            return;
        }
        // An opener that ran and failed found no handler that works (xdg-open exits 3 or 4).
        const int openerResult =
            end.kind == ProgramEnd::Kind::NotStarted ? OPEN_FILE_NOT_FOUND : OPEN_NO_ASSOCIATION;
        // Encoded, the address is one word on the command line: blanks and quotes become %20, %22.
        done(OpenWithRegisteredBrowser(url.toEncoded().toStdString(), openerResult));
    });
}

int CHyperLink::OpenWithRegisteredBrowser(const std::string& url, int openerResult) {
    DesktopEntry handler;
    if (!std::ranges::any_of(kBrowserTypes, [&handler](const char* type) {
            handler = {};
            return RegisteredHandler(type, &handler);
        }))
        return openerResult;
    const std::string command = CutAtFieldCode(handler) + " " + url;
    if (command.size() >= kCommandBufferSize)
        return OPEN_NOT_ENOUGH_MEMORY;
    if (const Failure failure = LaunchCommandLine(command))
        return CodeForStartFailure(failure);
    return OPEN_STARTED;
}

std::string CHyperLink::OpenErrorText(int code) {
    std::string text = tr("Unable to open hyperlink:\n\n").toStdString();
    for (const auto& [errorCode, errorText] : kOpenErrors) {
        if (errorCode == code)
            return text + tr(errorText).toStdString();
    }
    return text + tr("Unknown Error (%1) occurred.").arg(code).toStdString();
}

void CHyperLink::ShowOpenError(int code, const std::string& caption) {
    ShowMessageBox(caption, OpenErrorText(code), MessageIcon::Warning);
}
