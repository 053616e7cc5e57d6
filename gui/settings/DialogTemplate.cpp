#include "gui/settings/DialogTemplate.h"

#include <QDialog>
#include <QFontMetrics>
#include <QString>

#include <algorithm>

#include "res/Resource.h"

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

DialogUnits SetTemplateFrame(QDialog& dialog, int widthDlu, int heightDlu, Qt::WindowFlags boxes) {
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | boxes);
    dialog.setSizeGripEnabled(false);
    dialog.setFont(TemplateFont());
    const DialogUnits dlu(dialog.font());
    dialog.setFixedSize(dlu.X(widthDlu), dlu.Y(heightDlu));
    return dlu;
}

void PlaceControl(QWidget& control, const ControlTemplate& item, const DialogUnits& dlu) {
    if (item.id != IDC_STATIC) {
        control.setObjectName(QStringLiteral("IDC_%1").arg(item.id));
        control.setProperty("controlId", item.id);
    }
    control.setGeometry(dlu.X(item.x), dlu.Y(item.y), dlu.X(item.cx), dlu.Y(item.cy));
}
