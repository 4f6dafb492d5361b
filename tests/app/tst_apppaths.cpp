// Where the program keeps objects.data and settings.ini: beside itself when run from a build
// folder, under the XDG folders when installed.
#include "app/apppaths.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestAppPaths : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("xdg-data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("xdg-config"))));
        // An installed layout: PREFIX/bin beside PREFIX/share/quillon; a build folder: neither.
        QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("prefix/bin"))));
        QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("prefix/share/quillon"))));
        QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("build"))));
    }

    void writableFilesFollowTheLayout_data()
    {
        QTest::addColumn<QString>("appDir");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("settings");
        const QString cwd = QDir::currentPath();
        QTest::newRow("build folder") << m_root.filePath(QStringLiteral("build")) << false
                                      << m_root.filePath(QStringLiteral("build/objects.data"))
                                      << cwd + QStringLiteral("/settings.ini");
        QTest::newRow("installed") << m_root.filePath(QStringLiteral("prefix/bin")) << true
                                   << m_root.filePath(QStringLiteral("xdg-data/quillon/objects.data"))
                                   << m_root.filePath(QStringLiteral("xdg-config/quillon/settings.ini"));
        // A copy of the executable elsewhere is no installed program: nothing moves.
        QTest::newRow("copied executable")
            << m_root.filePath(QStringLiteral("prefix")) << false
            << m_root.filePath(QStringLiteral("prefix/objects.data")) << cwd + QStringLiteral("/settings.ini");
    }

    void writableFilesFollowTheLayout()
    {
        QFETCH(QString, appDir);
        QFETCH(bool, installed);
        QFETCH(QString, database);
        QFETCH(QString, settings);
        QCOMPARE(AppPaths::isInstalled(appDir), installed);
        QCOMPARE(AppPaths::databasePath(appDir), database);
        QCOMPARE(AppPaths::settingsPath(appDir), settings);
        // The folders exist, so that the first save and the first settings write succeed.
        QVERIFY(QFileInfo(database).dir().exists());
        QVERIFY(QFileInfo(settings).dir().exists());
    }
};

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
