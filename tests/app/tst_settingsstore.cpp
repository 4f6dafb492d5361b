// The login window's settings-file helper: the file stays private to its owner
// and forgotten keys leave it.
#include "app/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QFileDevice::Permissions unixPermissions(const QString &path)
{
    // QFile reports the user permission bits twice (ReadUser and ReadOwner); keep
    // the owner, group and other bits only.
    return QFile::permissions(path) & (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                       QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                       QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}
} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void protectCreatesMissingFileOwnerOnly()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        SettingsStore store;
        QVERIFY(store.protect(path));
        QVERIFY(QFile::exists(path));
        QCOMPARE(unixPermissions(path), kOwnerOnly);
        QCOMPARE(QFileInfo(path).size(), 0);
    }

    void protectTightensAnExistingFileAndKeepsItsContent()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[credentials]\nhost=127.0.0.1\n");
        }
        QVERIFY(QFile::setPermissions(path, kOwnerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        SettingsStore store;
        QVERIFY(store.protect(path));
        QCOMPARE(unixPermissions(path), kOwnerOnly);
        QSettings settings(path, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("credentials/host")).toString(), QStringLiteral("127.0.0.1"));
    }

    void rewritingThroughQSettingsKeepsTheFilePrivate()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        SettingsStore store;
        QVERIFY(store.protect(path));
        {
            QSettings settings(path, QSettings::IniFormat);
            settings.setValue(QStringLiteral("credentials/password"), QStringLiteral("secret"));
        }
        {
            QSettings settings(path, QSettings::IniFormat);
            settings.setValue(QStringLiteral("credentials/password"), QStringLiteral("other"));
        }
        QCOMPARE(unixPermissions(path), kOwnerOnly);
        QSettings settings(path, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("credentials/password")).toString(), QStringLiteral("other"));
    }

    void protectReportsAFileThatCannotBeCreated()
    {
        SettingsStore store;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot be created")));
        QVERIFY(!store.protect(QStringLiteral("/nonexistent-dir-for-quillon/settings.ini")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no file name")));
        QVERIFY(!store.protect(QString()));
    }

    void removeKeysDropsOnlyTheNamedKeysOfTheGroup()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        {
            QSettings settings(path, QSettings::IniFormat);
            settings.setValue(QStringLiteral("application/language"), 1);
            settings.setValue(QStringLiteral("credentials/host"), QStringLiteral("127.0.0.1"));
            settings.setValue(QStringLiteral("credentials/port"), QStringLiteral("7000"));
            settings.setValue(QStringLiteral("credentials/username"), QStringLiteral("operator"));
            settings.setValue(QStringLiteral("credentials/password"), QStringLiteral("secret"));
            settings.setValue(QStringLiteral("other/username"), QStringLiteral("kept"));
        }
        SettingsStore store;
        QVERIFY(store.removeKeys(path, QStringLiteral("credentials"),
                                 {QStringLiteral("username"), QStringLiteral("password")}));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(!text.contains("secret"), text.constData());
        QVERIFY2(!text.contains("operator"), text.constData());

        QSettings settings(path, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("application/language")).toInt(), 1);
        QCOMPARE(settings.value(QStringLiteral("credentials/host")).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(settings.value(QStringLiteral("credentials/port")).toString(), QStringLiteral("7000"));
        QVERIFY(!settings.contains(QStringLiteral("credentials/username")));
        QVERIFY(!settings.contains(QStringLiteral("credentials/password")));
        QCOMPARE(settings.value(QStringLiteral("other/username")).toString(), QStringLiteral("kept"));
    }

    void removalWinsOverAnUnsyncedWriteOfAnotherInstance()
    {
        // The QML Settings objects hold their own QSettings on the same file; a
        // value they have not synced yet must not come back after the removal.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        QSettings qmlSide(path, QSettings::IniFormat);
        qmlSide.setValue(QStringLiteral("credentials/password"), QStringLiteral("secret"));
        SettingsStore store;
        QVERIFY(store.removeKeys(path, QStringLiteral("credentials"), {QStringLiteral("password")}));
        qmlSide.setValue(QStringLiteral("credentials/host"), QStringLiteral("h"));
        qmlSide.sync();
        QSettings reread(path, QSettings::IniFormat);
        QVERIFY(!reread.contains(QStringLiteral("credentials/password")));
        QCOMPARE(reread.value(QStringLiteral("credentials/host")).toString(), QStringLiteral("h"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
