// cpack -G DEB in the build folder makes two installable packages, the desktop program quillon
// and the server ostrevan: their control fields, contents, maintainer scripts and the programs in
// them, checked with dpkg-deb; lintian finds no error in them; the service's sandbox is rated
// below 4 by systemd-analyze.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result
{
    bool ok = false;
    QString output;
};

Result run(const QString &program, const QStringList &arguments, int ms,
           QProcess::ProcessChannelMode channels = QProcess::SeparateChannels)
{
    QProcess process;
    process.setProcessChannelMode(channels);
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

const char *const kPackages[] = {"quillon", "ostrevan"};

// The package names in a Depends field, without versions or alternatives' bars.
QStringList dependencyNames(const QString &depends)
{
    QStringList names;
    for (const QString &alternatives : depends.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        for (const QString &dependency : alternatives.split(QLatin1Char('|')))
            names << dependency.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return names;
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QMap<QString, QString> m_debs;
    QMap<QString, QStringList> m_contents;

    QString field(const QString &package, const QString &name)
    {
        const Result f = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_debs.value(package), name}, 20000);
        return f.ok ? f.output.trimmed() : QString();
    }

    // The package's files under a folder of their own, once.
    QString extracted(const QString &package)
    {
        const QString root = m_dir.filePath(QStringLiteral("root-") + package);
        if (!QFileInfo::exists(root)) {
            const Result extract =
                run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_debs.value(package), root}, 60000);
            if (!extract.ok)
                qWarning("%s", qPrintable(extract.output));
        }
        return root;
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
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("*.deb")}, QDir::Files).size(), 2);
        for (const char *name : kPackages) {
            const QString package = QString::fromLatin1(name);
            const QStringList debs = QDir(m_dir.path()).entryList({package + QStringLiteral("_*.deb")}, QDir::Files);
            QCOMPARE(debs.size(), 1);
            m_debs.insert(package, m_dir.filePath(debs.constFirst()));
            const Result list =
                run(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), m_debs.value(package)}, 20000);
            QVERIFY2(list.ok, qPrintable(list.output));
            for (const QString &line : list.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                m_contents[package] << line.section(QLatin1Char(' '), -1);
        }
    }

    void controlFields_data()
    {
        QTest::addColumn<QString>("package");
        for (const char *name : kPackages)
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void controlFields()
    {
        QFETCH(QString, package);
        QCOMPARE(field(package, QStringLiteral("Package")), package);
        QCOMPARE(field(package, QStringLiteral("Version")), QStringLiteral(QUILLON_VERSION));
        const Result arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}, 10000);
        QVERIFY(arch.ok);
        QCOMPARE(field(package, QStringLiteral("Architecture")), arch.output.trimmed());
        // A name and an address that mail can reach: lintian refuses localhost.
        const QRegularExpression maintainer(QStringLiteral("^[^<]+ <[^@<>\\s]+@[^@<>\\s]+\\.[a-z]+>$"));
        QVERIFY2(maintainer.match(field(package, QStringLiteral("Maintainer"))).hasMatch(),
                 qPrintable(field(package, QStringLiteral("Maintainer"))));
        QVERIFY(!field(package, QStringLiteral("Description")).isEmpty());
        QCOMPARE(QFileInfo(m_debs.value(package)).fileName(),
                 QStringLiteral("%1_%2_%3.deb").arg(package, QStringLiteral(QUILLON_VERSION), arch.output.trimmed()));
    }

    void dependsNamesTheLibrariesAndPlugins_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("dependency");
        // From dpkg-shlibdeps: the libraries the executables and our own libraries link.
        QTest::newRow("Qt Quick") << "quillon"
                                  << "libqt5quick5";
        QTest::newRow("Qt SQL") << "quillon"
                                << "libqt5sql5";
        QTest::newRow("GStreamer") << "quillon"
                                   << "libgstreamer1.0-0";
        QTest::newRow("GStreamer GL") << "quillon"
                                      << "libgstreamer-gl1.0-0";
        QTest::newRow("ZeroMQ") << "quillon"
                                << "libzmq5";
        QTest::newRow("server RTSP") << "ostrevan"
                                     << "libgstrtspserver-1.0-0";
        QTest::newRow("server SQLite") << "ostrevan"
                                       << "libsqlite3-0";
        QTest::newRow("server ZeroMQ") << "ostrevan"
                                       << "libzmq5";
        // Loaded at run time, so named by hand.
        QTest::newRow("qmlglsink") << "quillon"
                                   << "gstreamer1.0-qt5";
        QTest::newRow("QtQuick.Controls") << "quillon"
                                          << "qml-module-qtquick-controls2";
        QTest::newRow("SQLite driver") << "quillon"
                                       << "libqt5sql5-sqlite";
        QTest::newRow("the server") << "quillon"
                                    << "ostrevan";
        QTest::newRow("server x264enc") << "ostrevan"
                                        << "gstreamer1.0-plugins-ugly";
        QTest::newRow("server decoders") << "ostrevan"
                                         << "gstreamer1.0-libav";
        QTest::newRow("service user") << "ostrevan"
                                      << "adduser";
        QTest::newRow("TLS for RTSPS") << "ostrevan"
                                       << "glib-networking";
        QTest::newRow("rtspclientsink for --publish") << "ostrevan"
                                                      << "gstreamer1.0-rtsp";
    }

    void dependsNamesTheLibrariesAndPlugins()
    {
        QFETCH(QString, package);
        QFETCH(QString, dependency);
        const QString depends = field(package, QStringLiteral("Depends"));
        QVERIFY2(dependencyNames(depends).contains(dependency), qPrintable(depends));
    }

    void serverPackageNeedsNoQtQuick()
    {
        const QString depends = field(QStringLiteral("ostrevan"), QStringLiteral("Depends"));
        QVERIFY(!depends.isEmpty());
        const QRegularExpression desktop(QStringLiteral("^(qml-module-.*|libqt5(quick|qml|widgets).*|"
                                                        "gstreamer1\\.0-qt5|quillon)$"));
        for (const QString &name : dependencyNames(depends))
            QVERIFY2(!desktop.match(name).hasMatch(), qPrintable(name + QStringLiteral(" in ") + depends));
        // Nor does it carry any of the desktop program's files.
        for (const QString &entry : m_contents.value(QStringLiteral("ostrevan")))
            QVERIFY2(!entry.contains(QStringLiteral("libquillon")) && !entry.contains(QStringLiteral("Quillon")),
                     qPrintable(entry));
    }

    void contentsLieUnderUsr_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("path");
        for (const char *path : {"./usr/bin/Quillon", "./usr/bin/quillon-es-sim", "./usr/bin/quillon-gateway-sim",
                                 "./usr/bin/quillon-fisheye-pub", "./usr/share/applications/quillon.desktop",
                                 "./usr/share/icons/hicolor/scalable/apps/quillon.svg",
                                 "./usr/share/quillon/sites/demo.json", "./usr/share/man/man1/Quillon.1.gz",
                                 "./usr/share/doc/quillon/copyright", "./usr/share/doc/quillon/changelog.gz"})
            QTest::newRow(path) << "quillon" << QString::fromLatin1(path);
        QTest::newRow("plug-in") << "quillon"
                                 << QStringLiteral("./usr/" QUILLON_INSTALL_LIBDIR
                                                   "/gstreamer-1.0/libgstquillonzmq.so");
        for (const QString &library : QStringLiteral(QUILLON_PRIVATE_LIBRARIES).split(QLatin1Char(',')))
            QTest::newRow(qPrintable(library))
                << "quillon" << QStringLiteral("./usr/" QUILLON_INSTALL_LIBDIR "/quillon/lib%1.so").arg(library);
        for (const char *path : {"./usr/bin/ostrevan", "./usr/lib/systemd/system/ostrevan.service",
                                 "./usr/lib/systemd/system/ostrevan@.service", "./usr/share/quillon/ostrevan.env",
                                 "./usr/share/man/man1/ostrevan.1.gz", "./usr/share/doc/ostrevan/copyright",
                                 "./usr/share/doc/ostrevan/changelog.gz"})
            QTest::newRow(path) << "ostrevan" << QString::fromLatin1(path);
    }

    void contentsLieUnderUsr()
    {
        QFETCH(QString, package);
        QFETCH(QString, path);
        const QStringList contents = m_contents.value(package);
        QVERIFY2(contents.contains(path), qPrintable(contents.join(QLatin1Char('\n'))));
        for (const QString &entry : contents)
            QVERIFY2(entry.startsWith(QStringLiteral("./usr/")) && !entry.startsWith(QStringLiteral("./usr/local")),
                     qPrintable(entry));
    }

    void changelogNamesThisVersion()
    {
        // dpkg-parsechangelog reads the packaged changelog as Debian's tools would.
        const QString changelog = m_dir.filePath(QStringLiteral("changelog"));
        const QString packaged = extracted(QStringLiteral("ostrevan")) + QStringLiteral("/usr/share/doc/ostrevan/");
        const Result unzip = run(QStringLiteral("sh"),
                                 {QStringLiteral("-c"), QStringLiteral("gzip -dc \"$0\" > \"$1\""),
                                  packaged + QStringLiteral("changelog.gz"), changelog},
                                 10000);
        QVERIFY2(unzip.ok, qPrintable(unzip.output));
        const Result version =
            run(QStringLiteral("dpkg-parsechangelog"),
                {QStringLiteral("-l"), changelog, QStringLiteral("-S"), QStringLiteral("Version")}, 10000);
        QVERIFY2(version.ok, qPrintable(version.output));
        QCOMPARE(version.output.trimmed(), QStringLiteral(QUILLON_VERSION));
    }

    void lintianFindsNoError_data()
    {
        QTest::addColumn<QString>("package");
        for (const char *name : kPackages)
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void lintianFindsNoError()
    {
        QFETCH(QString, package);
        const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
        if (lintian.isEmpty())
            QSKIP("lintian is not installed (package lintian): the packages are not checked with it");
        // Warnings are mended or overridden with a reason (packaging/lintian/); any left are shown.
        const Result check = run(lintian,
                                 {QStringLiteral("--fail-on"), QStringLiteral("error"),
                                  QStringLiteral("--tag-display-limit"), QStringLiteral("0"), m_debs.value(package)},
                                 100000, QProcess::MergedChannels);
        QVERIFY2(check.ok, qPrintable(check.output));
        QVERIFY2(
            !check.output.contains(QRegularExpression(QStringLiteral("^E: "), QRegularExpression::MultilineOption)),
            qPrintable(check.output));
        if (!check.output.trimmed().isEmpty())
            qInfo("%s", qPrintable(check.output));
    }

    void eachUnitRunsThePackagedProgramWithItsSettings_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QStringList>("lines");
        const QStringList both = {QStringLiteral("ExecStart=/usr/bin/ostrevan ${OSTREVAN_DATABASE} --port "
                                                 "${OSTREVAN_PORT} $OSTREVAN_OPTIONS"),
                                  QStringLiteral("User=ostrevan"), QStringLiteral("Restart=on-failure"),
                                  QStringLiteral("ExecReload=/bin/kill -HUP $MAINPID"),
                                  QStringLiteral("StateDirectory=ostrevan")};
        QTest::newRow("one server") << "ostrevan.service"
                                    << both + QStringList{QStringLiteral("EnvironmentFile=-/etc/default/ostrevan"),
                                                          QStringLiteral("RuntimeDirectory=ostrevan")};
        // An instance without its settings does not start; stopping one leaves the others' folders.
        QTest::newRow("an instance per settings file")
            << "ostrevan@.service"
            << both + QStringList{QStringLiteral("EnvironmentFile=/etc/ostrevan/%i.env"),
                                  QStringLiteral("RuntimeDirectory=ostrevan-%i"),
                                  QStringLiteral("Environment=XDG_RUNTIME_DIR=/run/ostrevan-%i")};
    }

    void eachUnitRunsThePackagedProgramWithItsSettings()
    {
        QFETCH(QString, unit);
        QFETCH(QStringList, lines);
        QFile file(extracted(QStringLiteral("ostrevan")) + QStringLiteral("/usr/lib/systemd/system/") + unit);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList text = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        for (const QString &line : lines)
            QVERIFY2(text.contains(line), qPrintable(line));
        QVERIFY2(!text.join(QLatin1Char('\n')).contains(QStringLiteral("@OSTREVAN_")),
                 "a placeholder was left unfilled");
    }

    void packagedProgramsRunAndTheServiceNamesThem()
    {
        const QString root = extracted(QStringLiteral("ostrevan"));
        const Result version = run(root + QStringLiteral("/usr/bin/ostrevan"), {QStringLiteral("--version")}, 20000);
        QVERIFY2(version.ok, qPrintable(version.output));
        QCOMPARE(version.output.trimmed(), QStringLiteral("ostrevan " QUILLON_VERSION));

        // The settings template dewarps on the CPU: the service has no display.
        QFile settings(root + QStringLiteral("/usr/share/quillon/ostrevan.env"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(settings.readAll())
                    .contains(QRegularExpression(QStringLiteral("^OSTREVAN_OPTIONS=.*--dewarp cpu"),
                                                 QRegularExpression::MultilineOption)));

        // The maintainer scripts create the service's user and its settings file.
        const QString control = m_dir.filePath(QStringLiteral("control"));
        const Result scripts = run(QStringLiteral("dpkg-deb"),
                                   {QStringLiteral("-e"), m_debs.value(QStringLiteral("ostrevan")), control}, 20000);
        QVERIFY2(scripts.ok, qPrintable(scripts.output));
        QFile postinst(control + QStringLiteral("/postinst"));
        QVERIFY(postinst.open(QIODevice::ReadOnly));
        QVERIFY(QFileInfo(postinst).isExecutable());
        const QString postinstText = QString::fromUtf8(postinst.readAll());
        QVERIFY(postinstText.contains(QStringLiteral("adduser --system")));
        QVERIFY(postinstText.contains(QStringLiteral("/usr/share/quillon/ostrevan.env /etc/default/ostrevan")));
        for (const char *script : {"postinst", "prerm", "postrm"}) {
            const Result syntax =
                run(QStringLiteral("sh"), {QStringLiteral("-n"), control + QLatin1Char('/') + QLatin1String(script)},
                    10000);
            QVERIFY2(syntax.ok, script);
        }
    }

    void serviceSandboxIsRatedBelowFour_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("rated"); // the name systemd-analyze reads it under
        QTest::newRow("one server") << "ostrevan.service"
                                    << "ostrevan.service";
        QTest::newRow("an instance") << "ostrevan@.service"
                                     << "ostrevan@site-a.service";
    }

    void serviceSandboxIsRatedBelowFour()
    {
        QFETCH(QString, unit);
        QFETCH(QString, rated);
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed (package systemd): the sandbox is not rated");
        // A template is rated as one of its instances.
        const QString copy = m_dir.filePath(rated);
        QFile::remove(copy);
        QVERIFY(QFile::copy(extracted(QStringLiteral("ostrevan")) + QStringLiteral("/usr/lib/systemd/system/") + unit,
                            copy));
        const Result rating = run(analyze, {QStringLiteral("security"), QStringLiteral("--offline=true"), copy}, 30000,
                                  QProcess::MergedChannels);
        // A setting systemd does not know would be ignored, and the service less confined than it reads.
        QVERIFY2(!rating.output.contains(QStringLiteral("Unknown")) &&
                     !rating.output.contains(QStringLiteral("Failed to parse")),
                 qPrintable(rating.output));
        const QRegularExpressionMatch level =
            QRegularExpression(
                QStringLiteral("Overall exposure level for %1: (\\d+\\.\\d)").arg(QRegularExpression::escape(rated)))
                .match(rating.output);
        QVERIFY2(level.hasMatch(), qPrintable(rating.output));
        QVERIFY2(level.captured(1).toDouble() < 4.0, qPrintable(rating.output));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
