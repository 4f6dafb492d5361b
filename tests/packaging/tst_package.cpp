// cpack -G DEB in the build folder makes an installable package: its control fields, its
// contents, its maintainer scripts and the programs in it, checked with dpkg-deb.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result
{
    bool ok = false;
    QString output;
};

Result run(const QString &program, const QStringList &arguments, int ms)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    Result result;
    const bool finished = process.waitForFinished(ms);
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (!result.ok)
        result.output += QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_deb;
    QStringList m_contents;

    QString field(const QString &name)
    {
        const Result f = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, name}, 20000);
        return f.ok ? f.output.trimmed() : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const Result cpack = run(QStringLiteral(CPACK_COMMAND),
                                 {QStringLiteral("--config"), QStringLiteral(QUILLON_BUILD_DIR "/CPackConfig.cmake"),
                                  QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), m_dir.path()},
                                 200000);
        QVERIFY2(cpack.ok, qPrintable(cpack.output));
        const QStringList debs = QDir(m_dir.path()).entryList({QStringLiteral("quillon_*.deb")}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        m_deb = m_dir.filePath(debs.constFirst());
        const Result list = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), m_deb}, 20000);
        QVERIFY2(list.ok, qPrintable(list.output));
        for (const QString &line : list.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            m_contents << line.section(QLatin1Char(' '), -1);
    }

    void controlFields()
    {
        QCOMPARE(field(QStringLiteral("Package")), QStringLiteral("quillon"));
        QCOMPARE(field(QStringLiteral("Version")), QStringLiteral(QUILLON_VERSION));
        const Result arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}, 10000);
        QVERIFY(arch.ok);
        QCOMPARE(field(QStringLiteral("Architecture")), arch.output.trimmed());
        QVERIFY(!field(QStringLiteral("Maintainer")).isEmpty());
        QVERIFY(!field(QStringLiteral("Description")).isEmpty());
        QVERIFY(!m_deb.isEmpty());
        QCOMPARE(QFileInfo(m_deb).fileName(),
                 QStringLiteral("quillon_%1_%2.deb").arg(QStringLiteral(QUILLON_VERSION), arch.output.trimmed()));
    }

    void dependsNamesTheLibrariesAndPlugins_data()
    {
        QTest::addColumn<QString>("package");
        // From dpkg-shlibdeps: the libraries the executables and our own libraries link.
        QTest::newRow("Qt Quick") << "libqt5quick5";
        QTest::newRow("Qt SQL") << "libqt5sql5";
        QTest::newRow("GStreamer") << "libgstreamer1.0-0";
        QTest::newRow("GStreamer GL") << "libgstreamer-gl1.0-0";
        QTest::newRow("RTSP server") << "libgstrtspserver-1.0-0";
        QTest::newRow("ZeroMQ") << "libzmq5";
        QTest::newRow("SQLite") << "libsqlite3-0";
        // Loaded at run time, so named by hand.
        QTest::newRow("x264enc") << "gstreamer1.0-plugins-ugly";
        QTest::newRow("qmlglsink") << "gstreamer1.0-qt5";
        QTest::newRow("QtQuick.Controls") << "qml-module-qtquick-controls2";
        QTest::newRow("SQLite driver") << "libqt5sql5-sqlite";
        QTest::newRow("service user") << "adduser";
    }

    void dependsNamesTheLibrariesAndPlugins()
    {
        QFETCH(QString, package);
        const QStringList depends = field(QStringLiteral("Depends")).split(QStringLiteral(", "));
        bool found = false;
        for (const QString &alternatives : depends) {
            for (const QString &dependency : alternatives.split(QStringLiteral(" | ")))
                found = found || dependency.section(QLatin1Char(' '), 0, 0) == package;
        }
        QVERIFY2(found, qPrintable(depends.join(QStringLiteral(", "))));
    }

    void contentsLieUnderUsr_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *path :
             {"./usr/bin/Quillon", "./usr/bin/ostrevan", "./usr/bin/quillon-es-sim", "./usr/bin/quillon-gateway-sim",
              "./usr/bin/quillon-fisheye-pub", "./usr/lib/systemd/system/ostrevan.service",
              "./usr/share/applications/quillon.desktop", "./usr/share/icons/hicolor/scalable/apps/quillon.svg",
              "./usr/share/quillon/sites/demo.json", "./usr/share/quillon/ostrevan.env"})
            QTest::newRow(path) << QString::fromLatin1(path);
        QTest::newRow("plug-in") << QStringLiteral("./usr/" QUILLON_INSTALL_LIBDIR
                                                   "/gstreamer-1.0/libgstquillonzmq.so");
        QTest::newRow("library") << QStringLiteral("./usr/" QUILLON_INSTALL_LIBDIR "/quillon/libquillon.so");
    }

    void contentsLieUnderUsr()
    {
        QFETCH(QString, path);
        QVERIFY2(m_contents.contains(path), qPrintable(m_contents.join(QLatin1Char('\n'))));
        for (const QString &entry : qAsConst(m_contents))
            QVERIFY2(entry.startsWith(QStringLiteral("./usr/")) && !entry.startsWith(QStringLiteral("./usr/local")),
                     qPrintable(entry));
    }

    void packagedProgramsRunAndTheServiceNamesThem()
    {
        const QString root = m_dir.filePath(QStringLiteral("root"));
        const Result extract = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, root}, 60000);
        QVERIFY2(extract.ok, qPrintable(extract.output));
        const Result version = run(root + QStringLiteral("/usr/bin/ostrevan"), {QStringLiteral("--version")}, 20000);
        QVERIFY2(version.ok, qPrintable(version.output));
        QCOMPARE(version.output.trimmed(), QStringLiteral("ostrevan " QUILLON_VERSION));

        QFile unit(root + QStringLiteral("/usr/lib/systemd/system/ostrevan.service"));
        QVERIFY(unit.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(unit.readAll());
        for (const char *line : {"ExecStart=/usr/bin/ostrevan ", "User=ostrevan", "Restart=on-failure",
                                 "EnvironmentFile=-/etc/default/ostrevan", "ExecReload=/bin/kill -HUP $MAINPID"})
            QVERIFY2(text.contains(QLatin1String(line)), line);

        // The maintainer scripts create the service's user and its settings file.
        const QString control = m_dir.filePath(QStringLiteral("control"));
        const Result scripts = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), m_deb, control}, 20000);
        QVERIFY2(scripts.ok, qPrintable(scripts.output));
        QFile postinst(control + QStringLiteral("/postinst"));
        QVERIFY(postinst.open(QIODevice::ReadOnly));
        QVERIFY(QFileInfo(postinst).isExecutable());
        const QString postinstText = QString::fromUtf8(postinst.readAll());
        QVERIFY(postinstText.contains(QStringLiteral("adduser --system")));
        QVERIFY(postinstText.contains(QStringLiteral("/usr/share/quillon/ostrevan.env /etc/default/ostrevan")));
        const Result syntax = run(QStringLiteral("sh"), {QStringLiteral("-n"), postinst.fileName()}, 10000);
        QVERIFY2(syntax.ok, qPrintable(syntax.output));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
