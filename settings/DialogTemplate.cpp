#include "settings/DialogTemplate.h"

#include <QFontMetrics>
#include <QString>

#include <algorithm>

QFont TemplateFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX = std::max(1, (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2);
    baseY = std::max(1, metrics.height());
}
