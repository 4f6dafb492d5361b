#include "app/settingsstore.h"

#include "app/applogging.h"
#include "app/apppaths.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

SettingsStore::SettingsStore(QObject *parent) : QObject(parent) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::fileName() const
{
    return AppPaths::settingsPath();
}

bool SettingsStore::protect(const QString &fileName) const
{
    if (fileName.isEmpty()) {
        qCWarning(lcSettings, "Settings file: no file name given");
        return false;
    }
    QFile file(fileName);
    if (!file.exists()) {
        // Created empty and private before anything is written into it; QSettings
        // keeps the permissions of an existing file when it rewrites it.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            qCWarning(lcSettings, "Settings file %s cannot be created: %s", qUtf8Printable(fileName),
                      qUtf8Printable(file.errorString()));
            return false;
        }
        file.close();
    }
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCWarning(lcSettings, "Settings file %s cannot be made private: %s", qUtf8Printable(fileName),
                  qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

bool SettingsStore::removeKeys(const QString &fileName, const QString &group, const QStringList &keys) const
{
    if (fileName.isEmpty()) {
        qCWarning(lcSettings, "Settings file: no file name given");
        return false;
    }
    // Opened on the same file as the QML Settings objects, this QSettings shares
    // their in-process cache, so their pending writes and these removals merge.
    QSettings settings(fileName, QSettings::IniFormat);
    settings.beginGroup(group);
    for (const QString &key : keys)
        settings.remove(key);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qCWarning(lcSettings, "Settings file %s cannot be written", qUtf8Printable(fileName));
        return false;
    }
    return true;
}

QString SettingsStore::value(const QString &fileName, const QString &group, const QString &key,
                             const QString &fallback) const
{
    if (fileName.isEmpty())
        return fallback;
    QSettings settings(fileName, QSettings::IniFormat);
    settings.beginGroup(group);
    return settings.value(key, fallback).toString();
}

bool SettingsStore::setValue(const QString &fileName, const QString &group, const QString &key,
                             const QString &value) const
{
    if (fileName.isEmpty()) {
        qCWarning(lcSettings, "Settings file: no file name given");
        return false;
    }
    QSettings settings(fileName, QSettings::IniFormat);
    settings.beginGroup(group);
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qCWarning(lcSettings, "Settings file %s: %s/%s cannot be written", qUtf8Printable(fileName),
                  qUtf8Printable(group), qUtf8Printable(key));
        return false;
    }
    return true;
}
