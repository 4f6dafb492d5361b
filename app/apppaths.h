#pragma once

#include <QString>

// Where the program keeps its writable files. Run from the build folder (or from any folder
// that is not an installed layout), objects.data lies beside the executable and settings.ini in
// the working folder, as they always have. Installed, that is with the executable in PREFIX/bin
// and the program's shared data in PREFIX/share/quillon, the executable's folder is not ours to
// write: objects.data goes to $XDG_DATA_HOME/quillon and settings.ini to $XDG_CONFIG_HOME/quillon.
class AppPaths
{
public:
    // Whether an executable in appDir belongs to an installed layout (default: this program's).
    static bool isInstalled(const QString &appDir = QString());

    // The folder of objects.data, and the file; installed, the folder is created when missing.
    static QString dataDir(const QString &appDir = QString());
    static QString databasePath(const QString &appDir = QString());

    // The login window's settings file; installed, its folder is created when missing.
    static QString settingsPath(const QString &appDir = QString());

    // The program's read-only shared data (the demo site) relative to the executable's folder.
    static QString sharedDataDir(const QString &appDir = QString());
};
