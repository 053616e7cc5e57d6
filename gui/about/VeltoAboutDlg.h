#pragma once
// The About box: the program's description, version and build, the program icon, the maker's
// address and web link, and the copyright notice. It measures its texts and sizes itself to
// them; only its position is remembered (DlgPos_130).
#include <string>

#include <QFont>
#include <QSize>

#include "gui/about/HyperLink.h"
#include "gui/settings/DialogPersistent.h"

class QLabel;
class QPushButton;
class QRect;
struct VersionBlock;

class CVeltoAboutDlg : public CDialogPersistent {
    Q_OBJECT
public:
    // The texts come from the running program's version block.
    explicit CVeltoAboutDlg(QWidget* parent = nullptr);
    // The texts come from the given block; null stands for a program without one.
    CVeltoAboutDlg(QWidget* parent, const VersionBlock* block);
    ~CVeltoAboutDlg() override;

    std::string m_strProductName;
    std::string m_strDescription;
    std::string m_strVersion = "0.99";
    std::string m_strBuild = "1000";
    std::string m_strCopyright;

    QLabel* m_staticIcon = nullptr;
    QLabel* m_staticTitle = nullptr;
    QLabel* m_staticVersion = nullptr;
    QLabel* m_staticAddress = nullptr;
    QLabel* m_staticDevelopment = nullptr;
    QLabel* m_staticCopyright = nullptr;
    QLabel* m_staticCopyrightLabel = nullptr;
    CHyperLink m_link;
    QLabel* m_ruleUpper = nullptr;
    QLabel* m_ruleLower = nullptr;
    QFont m_fontBody;
    QFont m_fontLabel;
    QFont m_fontTitle;
    QFont m_fontVersion;

    QPushButton* OkButton() const { return m_btnOk; }

protected:
    bool OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;

    void LoadTexts();
    void CreateFonts();
    void LayoutControls();
    // Width and height in pixels of a text of one or more lines in that font (the dialog's
    // font when null); an empty line counts as one blank.
    virtual QSize MeasureText(const std::string& text, const QFont* font) const;
    // The height the desktop's default font gives one line, the unit of the four fonts.
    virtual int BaseFontHeight() const;
    void CreateLabel(QLabel*& label, const std::string& text, const QRect& rect, const QFont* font);
    void CreateRule(QLabel*& rule, const QRect& rect);
    // A value in the value column in the body font, then its bold label ending before the
    // column; the value's measured size.
    QSize CreateValueRow(QLabel*& value, const std::string& text, QLabel*& label, unsigned labelId, int top);

private:
    void CreateTemplateControls();

    const VersionBlock* m_pVersionBlock;
    QPushButton* m_btnOk = nullptr;
};
