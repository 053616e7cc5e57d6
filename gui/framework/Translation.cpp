#include "gui/framework/Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <memory>

#include "res/Translation.h"

namespace {

// The program's catalogues are compiled in (translations/, by qt_add_translations).
constexpr char kCatalogueFolder[] = ":/i18n";

QPointer<QTranslator> g_program;
QPointer<QTranslator> g_qt;

std::string TranslateText(const char* scope, const char* text) {
    return QCoreApplication::translate(scope, text).toStdString();
}

void RemoveInstalled() {
    SetTextTranslator(nullptr);
    for (QPointer<QTranslator>* installed : {&g_program, &g_qt}) {
        if (*installed) {
            QCoreApplication::removeTranslator(*installed);
            delete installed->data();
        }
    }
}

}  // namespace

QStringList DesktopLanguages() {
    return QLocale::system().uiLanguages();
}

bool LoadTranslations(const QStringList& languages) {
    RemoveInstalled();
    auto program = std::make_unique<QTranslator>(QCoreApplication::instance());
    bool found = false;
    for (const QString& name : languages) {
        const QLocale language(name);
        // English is the source: a desktop that wants it before another language gets it.
        if (language.language() == QLocale::English || language.language() == QLocale::C)
            return false;
        // Tries "de_AT" before "de", as QLocale names them.
        if (program->load(language, QStringLiteral("oldiscovery"), QStringLiteral("_"),
                          QString::fromLatin1(kCatalogueFolder))) {
            found = true;
            break;
        }
    }
    if (!found)
        return false;
    // Qt's own texts in the same language, not in the desktop's first choice, so one window
    // never mixes two translations. Missing (qt6-translations-l10n not installed), they stay English.
    auto qt = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (qt->load(QLocale(program->language()), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        g_qt = qt.release();
    }
    QCoreApplication::installTranslator(program.get());
    g_program = program.release();
    SetTextTranslator(TranslateText);
    return true;
}
