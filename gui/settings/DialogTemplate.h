#pragma once
// What every dialog template shares: its font, the dialog units its geometry is given in, and
// how the program's texts (UTF-8) reach its controls.
#include <QFont>
#include <QString>

#include <string>

class QDialog;
class QWidget;

inline QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// One control of a dialog template; each dialog keeps its controls in one table of these.
enum class ControlKind { Label, Edit, ListView, PushButton, DefPushButton, Radio, CheckBox };

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;  // dialog units
};

// The templates' "MS Sans Serif" 8 point; where the face is missing the system's sans-serif
// stands in. Pixel sizes chosen for the templates hold for text of this size.
QFont TemplateFont();

// Dialog units to pixels by the font's average character width and height, as the desktop
// dialog manager does: x * width / 4, y * height / 8.
struct DialogUnits {
    explicit DialogUnits(const QFont& font);
    int X(int dlu) const { return dlu * baseX / 4; }
    int Y(int dlu) const { return dlu * baseY / 8; }
    int baseX;
    int baseY;
};

// Gives the dialog the templates' font and its fixed client size, a caption with a close box and
// the given further boxes, and no sizing border; the units its controls are placed in.
DialogUnits SetTemplateFrame(QDialog& dialog, int widthDlu, int heightDlu, Qt::WindowFlags boxes = {});

// Places the control as its template entry says. A control with an id (not IDC_STATIC) is named
// "IDC_<id>" and carries the id as its "controlId".
void PlaceControl(QWidget& control, const ControlTemplate& item, const DialogUnits& dlu);
