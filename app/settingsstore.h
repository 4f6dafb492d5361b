#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// File-level chores on the login window's settings file that the QML Settings type
// cannot do: keeping the file private to its owner (it may hold a password),
// removing keys, so that forgotten credentials leave the file for good, and
// reading and writing the credentials without handing them to the Settings type,
// whose debug output prints every value it is given.
//
// Exposed to the documents as the root-context property "settingsStore".
class SettingsStore : public QObject
{
    Q_OBJECT
    // The login window's settings file (AppPaths::settingsPath()).
    Q_PROPERTY(QString fileName READ fileName CONSTANT)

public:
    explicit SettingsStore(QObject *parent = nullptr);
    ~SettingsStore() override;

    QString fileName() const;

    // Creates the file when it is missing and makes it readable and writable by
    // its owner only (0600). Returns false, with a warning, when that fails.
    Q_INVOKABLE bool protect(const QString &fileName) const;

    // Removes the keys of one group from the INI file and writes it at once.
    // Returns false, with a warning, when the file cannot be written.
    Q_INVOKABLE bool removeKeys(const QString &fileName, const QString &group, const QStringList &keys) const;

    // One text value of the INI file; fallback when the key is missing. Neither
    // logs the value.
    Q_INVOKABLE QString value(const QString &fileName, const QString &group, const QString &key,
                              const QString &fallback = QString()) const;
    // Returns false, with a warning naming the key, when the file cannot be written.
    Q_INVOKABLE bool setValue(const QString &fileName, const QString &group, const QString &key,
                              const QString &value) const;
};
