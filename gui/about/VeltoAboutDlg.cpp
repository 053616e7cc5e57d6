#include "gui/about/VeltoAboutDlg.h"

#include <QApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRect>

#include <algorithm>

#include "gui/version/VersionInfo.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "res/VersionBlock.h"
#include "gui/settings/DialogTemplate.h"

namespace {

constexpr int IDC_WEBLINK = 1005;

// Template IDD_ABOUTBOX, in dialog units of its 8-point font.
constexpr int kTemplateWidthDlu = 260;
constexpr int kTemplateHeightDlu = 215;
constexpr ControlTemplate kOkButton = {
    IDOK, ControlKind::DefPushButton, QT_TRANSLATE_NOOP("CVeltoAboutDlg", "OK"), 100, 194, 50, 14};
constexpr ControlTemplate kWebLink = {IDC_WEBLINK, ControlKind::Label, "Static", 7, 143, 157, 12};

// Pixel columns and gaps of the layout.
constexpr int kTextColumn = 100;    // description and version lines
constexpr int kValueColumn = 170;   // address, link and copyright
constexpr int kLabelRight = 158;    // the labels' rectangles end here ...
constexpr int kLabelTextEnd = 154;  // ... their text ends here
constexpr int kIconLeft = 26;
constexpr int kIconSize = 48;
constexpr int kRuleMargin = 8;
constexpr int kDefaultBaseHeight = 13;

void ReplaceEscapedNewlines(std::string& text) {
    for (size_t at = text.find("\\n"); at != std::string::npos; at = text.find("\\n", at))
        text.replace(at, 2, "\n");
}

// A font whose cell (ascent plus descent) is height pixels tall, as the desktop's font mapper
// gives for a positive height; the face falls back to the system's sans-serif.
QFont CellHeightFont(const char* face, int height, int weight) {
    QFont font(QString::fromLatin1(face));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(static_cast<QFont::Weight>(weight));
    int pixels = std::max(1, height);
    font.setPixelSize(pixels);
    while (pixels > 1 && QFontMetrics(font).height() > height)
        font.setPixelSize(--pixels);
    return font;
}

}  // namespace

CVeltoAboutDlg::CVeltoAboutDlg(QWidget* parent) : CVeltoAboutDlg(parent, ProgramVersionBlock()) {}

CVeltoAboutDlg::CVeltoAboutDlg(QWidget* parent, const VersionBlock* block)
    : CDialogPersistent(IDD_ABOUTBOX, parent, 0), m_pVersionBlock(block) {
    // The icons live in a static library. Q_INIT_RESOURCE must be used outside any namespace.
    Q_INIT_RESOURCE(Program);
    CreateTemplateControls();
}

CVeltoAboutDlg::~CVeltoAboutDlg() = default;

void CVeltoAboutDlg::CreateTemplateControls() {
    setWindowTitle(QStringLiteral("Dialog"));
    const DialogUnits dlu = SetTemplateFrame(*this, kTemplateWidthDlu, kTemplateHeightDlu);

    m_btnOk = new QPushButton(tr(kOkButton.text), this);
    m_btnOk->setDefault(true);
    PlaceControl(*m_btnOk, kOkButton, dlu);
    connect(m_btnOk, &QPushButton::clicked, this, [this] { OnOK(); });

    auto* web = new QLabel(QString::fromUtf8(kWebLink.text), this);
    web->setTextFormat(Qt::PlainText);
    web->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceControl(*web, kWebLink, dlu);
}

bool CVeltoAboutDlg::OnInitDialog() {
    CDialogPersistent::OnInitDialog();
    LoadTexts();
    CreateFonts();
    LayoutControls();
    m_btnOk->setFocus();
    return true;
}

void CVeltoAboutDlg::DoDataExchange(bool saveAndValidate) {
    CDialogPersistent::DoDataExchange(saveAndValidate);
    if (!m_link.IsAttached())
        m_link.SubclassDlgItem(IDC_WEBLINK, this);
}

void CVeltoAboutDlg::LoadTexts() {
    m_strVersion = "0.99";
    m_strBuild = "1000";
    CVersionInfo info(m_pVersionBlock);
    ParseFileVersion(info.GetFileVersion(), m_strVersion, m_strBuild);
    m_strProductName = info.GetProductName();
    m_strDescription = info.GetFileDescription();
    if (m_strDescription.empty())
        m_strDescription = m_strProductName;
    m_strCopyright = info.GetLegalCopyright();
    // The version block carries texts of several lines as a backslash and an n.
    ReplaceEscapedNewlines(m_strProductName);
    ReplaceEscapedNewlines(m_strDescription);
    ReplaceEscapedNewlines(m_strCopyright);
}

int CVeltoAboutDlg::BaseFontHeight() const {
    // The desktop's default font, not the dialog's: the fonts scale with the user's choice.
    const QFontMetrics metrics(QApplication::font());
    const int height = metrics.ascent() + std::max(0, metrics.leading());
    return height > 0 ? height : kDefaultBaseHeight;
}

void CVeltoAboutDlg::CreateFonts() {
    const int c = BaseFontHeight();
    m_fontTitle = CellHeightFont("Arial", 2 * c, 700);
    m_fontVersion = CellHeightFont("Arial", 3 * c / 2, 700);
    m_fontLabel = CellHeightFont("MS Sans Serif", c, 700);
    m_fontBody = CellHeightFont("MS Sans Serif", c, 400);
}

QSize CVeltoAboutDlg::MeasureText(const std::string& text, const QFont* font) const {
    const QFontMetrics metrics(font ? *font : this->font());
    int width = 0;
    QStringList lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        QString line = Text(text.substr(start, end == std::string::npos ? end : end - start));
        if (line.isEmpty())
            line = QStringLiteral(" ");
        width = std::max({width, metrics.horizontalAdvance(line), metrics.boundingRect(line).right() + 1});
        lines << line;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    // The lines stacked as a label lays them out, which rounds line heights its own way.
    const int height = metrics.boundingRect(QRect(), Qt::AlignLeft | Qt::AlignTop, lines.join('\n')).height();
    return QSize(width, height);
}

void CVeltoAboutDlg::CreateLabel(QLabel*& label, const std::string& text, const QRect& rect,
                                 const QFont* font) {
    delete label;
    label = new QLabel(Text(text), this);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setProperty("controlId", 0);
    label->setGeometry(rect);
    if (font)
        label->setFont(*font);
    label->show();
}

void CVeltoAboutDlg::CreateRule(QLabel*& rule, const QRect& rect) {
    delete rule;
    rule = new QLabel(this);
    rule->setProperty("controlId", 0);
    rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    rule->setGeometry(rect);
    rule->show();
}

QSize CVeltoAboutDlg::CreateValueRow(QLabel*& value, const std::string& text, QLabel*& label,
                                     unsigned labelId, int top) {
    const QSize valueSize = MeasureText(text, &m_fontBody);
    CreateLabel(value, text, QRect(QPoint(kValueColumn, top), valueSize), &m_fontBody);
    const std::string labelText = LoadString(labelId);
    const QSize labelSize = MeasureText(labelText, &m_fontLabel);
    CreateLabel(label, labelText,
                QRect(QPoint(kLabelTextEnd - labelSize.width(), top),
                      QPoint(kLabelRight - 1, top + labelSize.height() - 1)),
                &m_fontLabel);
    return valueSize;
}

void CVeltoAboutDlg::LayoutControls() {
    setWindowTitle(tr("About %1").arg(Text(m_strProductName)));

    const QSize title = MeasureText(m_strDescription, &m_fontTitle);
    CreateLabel(m_staticTitle, m_strDescription, QRect(QPoint(kTextColumn, 16), title), &m_fontTitle);

    const std::string versionText =
        tr("Version V%1 (Build %2)").arg(Text(m_strVersion), Text(m_strBuild)).toStdString();
    const int y2 = 16 + title.height() + 10;
    const QSize version = MeasureText(versionText, &m_fontVersion);
    CreateLabel(m_staticVersion, versionText, QRect(QPoint(kTextColumn, y2), version), &m_fontVersion);
    const int yA = y2 + version.height();

    // The icon is centred on the band of the two lines beside it.
    const int iconTop = (yA - 16) / 2 - 8;
    delete m_staticIcon;
    m_staticIcon = new QLabel(this);
    m_staticIcon->setProperty("controlId", 0);
    m_staticIcon->setAlignment(Qt::AlignCenter);
    m_staticIcon->setGeometry(kIconLeft, iconTop, kIconSize, kIconSize);
    // The picture for the screen's scale: the SVG where no hand-drawn size fits it.
    QIcon icon(QStringLiteral(":/res/program.svg"));
    icon.addFile(QStringLiteral(":/res/program-48.png"), QSize(kIconSize, kIconSize));
    m_staticIcon->setPixmap(icon.pixmap(QSize(kIconSize, kIconSize), devicePixelRatioF()));
    m_staticIcon->setAccessibleName(tr("Program icon"));
    m_staticIcon->show();

    const int yB = yA + 32;
    const QSize address = CreateValueRow(m_staticAddress, LoadString(IDS_MAKER_ADDRESS), m_staticDevelopment,
                                         IDS_DEVELOPMENT, yB);

    const std::string webAddress = LoadString(IDS_WEB_ADDRESS);
    m_link.SetTarget(webAddress);
    m_link.SetColors(RGB(0, 0, 160), RGB(0, 0, 160), kSystemHighlight);
    const int yC = yB + address.height() + 4;
    const QSize link = MeasureText(webAddress, &m_fontBody);
    m_link.setGeometry(QRect(QPoint(kValueColumn, yC), link));
    m_link.setFont(m_fontBody);
    m_link.setText(Text(webAddress));

    const int yD = yC + link.height() + 16;
    const QSize copyright =
        CreateValueRow(m_staticCopyright, m_strCopyright, m_staticCopyrightLabel, IDS_COPYRIGHT, yD);

    const int yE = yD + copyright.height() + 20;
    // The link's width does not count: a long web address may run past the right edge.
    const int contentWidth = std::max(std::max(address.width(), copyright.width()) + kValueColumn,
                                      std::max(title.width(), version.width()) + kTextColumn);
    const int clientWidth = contentWidth + 60;

    const QSize ok = m_btnOk->size();
    m_btnOk->move(clientWidth / 2 - ok.width() / 2, yE + 16);
    // The window manager adds the frame and caption around this client area.
    setFixedSize(clientWidth, yE + 28 + ok.height());

    CreateRule(m_ruleUpper,
               QRect(QPoint(kRuleMargin, yB - 16), QPoint(clientWidth - kRuleMargin - 1, yB - 15)));
    CreateRule(m_ruleLower, QRect(QPoint(kRuleMargin, yE), QPoint(clientWidth - kRuleMargin - 1, yE + 1)));
}
