// The desktop's dark theme as a style plugin ("olddark", picked with QT_STYLE_OVERRIDE): Fusion
// with a dark palette whose own colour pairs are readable, so what a window paints unreadable
// on it is the window's doing.
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStylePlugin>

namespace {

struct PaletteEntry {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
    QRgb color;
};

constexpr PaletteEntry kDark[] = {
    {QPalette::All, QPalette::Window, 0x2d2d2d},
    {QPalette::All, QPalette::WindowText, 0xe6e6e6},
    {QPalette::All, QPalette::Base, 0x1e1e1e},
    {QPalette::All, QPalette::AlternateBase, 0x2d2d2d},
    {QPalette::All, QPalette::Text, 0xe6e6e6},
    {QPalette::All, QPalette::Button, 0x353535},
    {QPalette::All, QPalette::ButtonText, 0xe6e6e6},
    {QPalette::All, QPalette::BrightText, 0xff6060},
    {QPalette::All, QPalette::Highlight, 0x26629e},
    {QPalette::All, QPalette::HighlightedText, 0xffffff},
    {QPalette::All, QPalette::Link, 0x6eaaff},
    {QPalette::All, QPalette::LinkVisited, 0xc09cff},
    {QPalette::All, QPalette::ToolTipBase, 0x1e1e1e},
    {QPalette::All, QPalette::ToolTipText, 0xe6e6e6},
    {QPalette::All, QPalette::PlaceholderText, 0x9a9a9a},
    {QPalette::All, QPalette::Light, 0x505050},
    {QPalette::All, QPalette::Midlight, 0x404040},
    {QPalette::All, QPalette::Mid, 0x262626},
    {QPalette::All, QPalette::Dark, 0x1a1a1a},
    {QPalette::All, QPalette::Shadow, 0x000000},
    {QPalette::Disabled, QPalette::WindowText, 0x9a9a9a},
    {QPalette::Disabled, QPalette::Text, 0x9a9a9a},
    {QPalette::Disabled, QPalette::ButtonText, 0x9a9a9a},
};

class DarkPaletteStyle : public QProxyStyle {
public:
    DarkPaletteStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    QPalette standardPalette() const override {
        QPalette palette;
        for (const PaletteEntry& entry : kDark)
            palette.setColor(entry.group, entry.role, QColor::fromRgb(entry.color));
        return palette;
    }
    void polish(QPalette& palette) override { palette = standardPalette(); }
    using QProxyStyle::polish;
};

}  // namespace

class DarkPaletteStylePlugin : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QStyleFactoryInterface" FILE "DarkPaletteStyle.json")

public:
    QStyle* create(const QString& key) override {
        return key.compare(QStringLiteral("olddark"), Qt::CaseInsensitive) == 0 ? new DarkPaletteStyle
                                                                                : nullptr;
    }
};

#include "DarkPaletteStyle.moc"
