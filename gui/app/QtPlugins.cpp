#include "gui/app/QtPlugins.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStringList>

#include <cstdlib>

bool KeepQtPluginsInInstalledFolder() {
    // A qt.conf compiled into the program is read instead of any file beside it; having a
    // [Platforms] section and no [Paths] one, it leaves every path as Qt was built with.
    Q_INIT_RESOURCE(InstalledQt);
    // The program's folder, canonical as Qt's plugin search names its folders.
    const QString folder = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
    // The folder goes into a list separated by ':'.
    if (folder.isEmpty() || folder == QStringLiteral(".") || folder.contains(QDir::listSeparator()))
        return false;
    // The QApplication adds the program's folder to the plugin search, then repeats on its list what
    // was removed from the list before it existed. Named in QT_PLUGIN_PATH while that first list is
    // made, the folder is on it, so its removal is repeated too, before the first plugin loads.
    ::setenv("QT_PLUGIN_PATH", folder.toLocal8Bit().constData(), 1);
    const QStringList before = QCoreApplication::libraryPaths();
    ::unsetenv("QT_PLUGIN_PATH");
    if (!before.contains(folder))
        return false;  // the list was made earlier, without it
    QCoreApplication::removeLibraryPath(folder);
    return true;
}

void LeaveQtPluginsAsUsual() {
    // The built-in qt.conf is registered by its object file at start; without it one beside the
    // program counts again.
    Q_CLEANUP_RESOURCE(InstalledQt);
}

bool QtPluginsOnlyFromInstalledFolder() {
    // Canonical, as the search names it.
    const QString installed = QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath)).canonicalPath();
    const QStringList searched = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths(installed.isEmpty() ? QStringList() : QStringList{installed});
    for (const QString& folder : searched) {
        if (folder != installed)
            return false;
    }
    return true;
}
