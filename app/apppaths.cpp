#include "app/apppaths.h"

#include "app/applogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace {

QString applicationDir(const QString &appDir)
{
    return appDir.isEmpty() ? QCoreApplication::applicationDirPath() : appDir;
}

// Created on first use; a failure is logged, and opening the file then reports it.
QString ensured(const QString &dir)
{
    if (!QDir().mkpath(dir))
        qCWarning(lcPaths, "Cannot create the folder %s", qUtf8Printable(QDir::toNativeSeparators(dir)));
    return dir;
}

QString xdgDir(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location) + QStringLiteral("/quillon");
}

} // namespace

QString AppPaths::sharedDataDir(const QString &appDir)
{
    // QUILLON_SHARED_DATA_FROM_BIN is the install rules' path from the executables to the shared data.
    return QDir::cleanPath(applicationDir(appDir) + QLatin1Char('/') + QStringLiteral(QUILLON_SHARED_DATA_FROM_BIN));
}

bool AppPaths::isInstalled(const QString &appDir)
{
    // The install rules put the demo site there; a build folder or a copied executable has none.
    return QFileInfo(sharedDataDir(appDir)).isDir();
}

QString AppPaths::dataDir(const QString &appDir)
{
    if (isInstalled(appDir))
        return ensured(xdgDir(QStandardPaths::GenericDataLocation));
    return applicationDir(appDir);
}

QString AppPaths::databasePath(const QString &appDir)
{
    return dataDir(appDir) + QStringLiteral("/objects.data");
}

QString AppPaths::settingsPath(const QString &appDir)
{
    if (isInstalled(appDir))
        return ensured(xdgDir(QStandardPaths::GenericConfigLocation)) + QStringLiteral("/settings.ini");
    return QDir::current().absoluteFilePath(QStringLiteral("settings.ini"));
}
