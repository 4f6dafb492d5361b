// cmake --install into a temporary prefix lays out a working program: the executables find their
// libraries there, both programs answer --version and --help without a display, the manual pages
// describe them as installed, the server serves a view over RTSP, the plug-in loads from
// GStreamer's folder for the prefix, and writable data goes to the XDG folders.

#include "objectsfilewriter.h"
#include "serverrun.h"
#include "support/sanitizerruntime.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result
{
    bool finished = false;
    int exitCode = -1;
    QString output;
};

// Runs a program to its end, bounded in time; stdout and stderr together.
Result runToEnd(const QString &program, const QStringList &arguments, int ms,
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Result result;
    result.finished = process.waitForFinished(ms);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

// The environment of a console or a service: no display of any kind.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    return env;
}

// A program's standard output alone, with its exit code (-1 for a crash or a time-out).
QPair<int, QString> standardOutput(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(withoutDisplay());
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
        return {-1, QString()};
    }
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {code, QString::fromLocal8Bit(process.readAllStandardOutput())};
}

const char *const kExecutables[] = {"Quillon", "ostrevan", "quillon-es-sim", "quillon-gateway-sim",
                                    "quillon-fisheye-pub"};

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_prefix;
    QTemporaryDir m_work;

    QString installed(const QString &relative) const { return m_prefix.filePath(relative); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_prefix.isValid() && m_work.isValid());
        const Result install = runToEnd(QStringLiteral(CMAKE_COMMAND),
                                        {QStringLiteral("--install"), QStringLiteral(QUILLON_BUILD_DIR),
                                         QStringLiteral("--prefix"), m_prefix.path()},
                                        60000);
        QVERIFY2(install.finished && install.exitCode == 0, qPrintable(install.output));
    }

    void laysOutTheProgram_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        for (const char *name : kExecutables)
            QTest::newRow(name) << QStringLiteral("bin/") + QLatin1String(name) << true;
        const QString libdir = QStringLiteral(QUILLON_INSTALL_LIBDIR);
        QTest::newRow("zmq plug-in") << libdir + QStringLiteral("/gstreamer-1.0/libgstquillonzmq.so") << false;
        QTest::newRow("menu entry") << QStringLiteral("share/applications/quillon.desktop") << false;
        QTest::newRow("icon") << QStringLiteral("share/icons/hicolor/scalable/apps/quillon.svg") << false;
        QTest::newRow("demo site") << QStringLiteral("share/quillon/sites/demo.json") << false;
        QTest::newRow("service") << QStringLiteral("lib/systemd/system/ostrevan.service") << false;
        QTest::newRow("Quillon(1)") << QStringLiteral("share/man/man1/Quillon.1.gz") << false;
        QTest::newRow("ostrevan(1)") << QStringLiteral("share/man/man1/ostrevan.1.gz") << false;
        QTest::newRow("copyright") << QStringLiteral("share/doc/ostrevan/copyright") << false;
        QTest::newRow("changelog") << QStringLiteral("share/doc/quillon/changelog.gz") << false;
    }

    void laysOutTheProgram()
    {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo info(installed(path));
        QVERIFY2(info.isFile(), qPrintable(info.filePath()));
        QCOMPARE(info.isExecutable(), executable);
    }

    void executablesLoadTheirLibrariesFromThePrefix_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("ownLibraries");
        // The program loads every layer library and the client library, the event-server simulator the
        // client library; the server and the other simulators load none of ours.
        const QStringList all = QStringLiteral(QUILLON_PRIVATE_LIBRARIES).split(QLatin1Char(','));
        for (const char *name : kExecutables) {
            QStringList own;
            if (qstrcmp(name, "Quillon") == 0)
                own = all;
            else if (qstrcmp(name, "quillon-es-sim") == 0)
                own = QStringList{QStringLiteral("korvu_es")};
            QTest::newRow(name) << QString::fromLatin1(name) << own;
        }
    }

    void executablesLoadTheirLibrariesFromThePrefix()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, ownLibraries);
        const Result ldd = runToEnd(QStringLiteral("ldd"), {installed(QStringLiteral("bin/") + name)}, 20000);
        QVERIFY2(ldd.finished && ldd.exitCode == 0, qPrintable(ldd.output));
        QVERIFY2(!ldd.output.contains(QStringLiteral("not found")), qPrintable(ldd.output));
        // Our own libraries come from the prefix, never from the build folder.
        const QRegularExpression own(QStringLiteral("lib(quillon_\\w+|korvu_es)\\.so => (\\S+)"));
        const QString privateDir =
            QFileInfo(installed(QStringLiteral(QUILLON_INSTALL_LIBDIR "/quillon"))).canonicalFilePath();
        QStringList loaded;
        for (auto it = own.globalMatch(ldd.output); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            QCOMPARE(QFileInfo(QFileInfo(match.captured(2)).canonicalFilePath()).path(), privateDir);
            loaded << match.captured(1);
        }
        loaded.sort();
        ownLibraries.sort();
        QCOMPARE(loaded, ownLibraries);
    }

    void serverTellsItsVersionAndEveryOption()
    {
        const QString ostrevan = installed(QStringLiteral("bin/ostrevan"));
        const Result version = runToEnd(ostrevan, {QStringLiteral("--version")}, 20000);
        QVERIFY2(version.finished && version.exitCode == 0, qPrintable(version.output));
        QCOMPARE(version.output.trimmed(), QStringLiteral("ostrevan " QUILLON_VERSION));

        const Result help = runToEnd(ostrevan, {QStringLiteral("--help")}, 20000);
        QVERIFY2(help.finished && help.exitCode == 0, qPrintable(help.output));
        for (const char *option : {"--port", "--address", "--width", "--height", "--fps", "--bitrate", "--dewarp",
                                   "--stats", "--version", "--help", "database"})
            QVERIFY2(help.output.contains(QLatin1String(option)), option);
    }

    void programAnswersWithoutADisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("answer");
        QTest::newRow("Quillon --version") << "Quillon"
                                           << "--version"
                                           << "^Quillon " QUILLON_VERSION "\n$";
        QTest::newRow("Quillon --help") << "Quillon"
                                        << "--help"
                                        << "^Usage: Quillon .*--version.*--gst-debug";
        QTest::newRow("Quillon -h") << "Quillon"
                                    << "-h"
                                    << "^Usage: Quillon ";
        QTest::newRow("ostrevan --version") << "ostrevan"
                                            << "--version"
                                            << "^ostrevan " QUILLON_VERSION "\n$";
        QTest::newRow("ostrevan --help") << "ostrevan"
                                         << "--help"
                                         << "^Usage: .*--dewarp";
    }

    void programAnswersWithoutADisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QString, answer);
        const auto [code, output] = standardOutput(installed(QStringLiteral("bin/") + program), {option});
        QCOMPARE(code, 0);
        const QRegularExpression expected(answer, QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(expected.match(output).hasMatch(), qPrintable(output));
    }

    void programPassesOtherOptionsToGStreamer()
    {
        // gst_init answers --gst-version itself, before any window: the option got to GStreamer.
        const auto [code, output] =
            standardOutput(installed(QStringLiteral("bin/Quillon")), {QStringLiteral("--gst-version")});
        QCOMPARE(code, 0);
        QVERIFY2(output.contains(QStringLiteral("GStreamer Core Library version 1.")), qPrintable(output));
    }

    void manualPagesDescribeTheInstalledPrograms_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("Quillon") << "Quillon.1.gz"
                                 << QStringList{"Quillon - set up dewarped views", "--version", "ostrevan(1)",
                                                "settings.ini"};
        // The defaults of the installed program, not those of one in the build folder.
        QTest::newRow("ostrevan") << "ostrevan.1.gz" << QStringList{"ostrevan - serve dewarped fisheye views",
                                                                    "--session-timeout",
                                                                    "--dewarp",
                                                                    "default: $XDG_DATA_HOME/quillon/objects.data",
                                                                    "/etc/default/ostrevan",
                                                                    "SIGHUP"};
    }

    void manualPagesDescribeTheInstalledPrograms()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, texts);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("200"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        const Result man = runToEnd(QStringLiteral("man"),
                                    {QStringLiteral("--warnings"), QStringLiteral("-E"), QStringLiteral("ascii"),
                                     QStringLiteral("-l"), installed(QStringLiteral("share/man/man1/") + page)},
                                    20000, env);
        QVERIFY2(man.finished && man.exitCode == 0, qPrintable(man.output));
        // Any groff warning is a fault of the page.
        QVERIFY2(!man.output.contains(QStringLiteral("warning")), qPrintable(man.output));
        for (const QString &text : texts)
            QVERIFY2(man.output.contains(text), qPrintable(text + QStringLiteral(" in\n") + man.output));
    }

    void installedServerReadsTheXdgDataFolderByDefault()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_work.filePath(QStringLiteral("data")));
        const Result run = runToEnd(installed(QStringLiteral("bin/ostrevan")), ServerRun::testOptions(), 20000, env);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.output.contains(m_work.filePath(QStringLiteral("data/quillon/objects.data"))),
                 qPrintable(run.output));
    }

    void installedServerAnswersRtsp()
    {
        const QString file = m_work.filePath(QStringLiteral("objects.data"));
        ObjectsFileRows rows;
        rows.gateways = {{QStringLiteral("GW-1"), true}};
        StreamFileRow stream;
        stream.serialGateway = QStringLiteral("GW-1");
        stream.serial = QStringLiteral("CAM-1");
        stream.url = QStringLiteral("testvideo:");
        rows.streams = {stream};
        rows.views = {{QStringLiteral("CAM-1"), QStringLiteral("front"), 0, 0, 0, 90, true}};
        QVERIFY(ObjectsFileWriter::write(file, rows));

        ServerRun server(QStringList{file} + ServerRun::testOptions(), installed(QStringLiteral("bin/ostrevan")));
        const int port = server.waitForPort();
        QVERIFY2(port > 0, qPrintable(server.output()));
        QVERIFY2(server.waitFor(QStringLiteral("Serving view \"front\"")), qPrintable(server.output()));

        // ffprobe sends DESCRIBE and reads the stream from the answer's session description.
        const Result probe = runToEnd(
            QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-rtsp_transport"), QStringLiteral("tcp"),
             QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name,width,height"), QStringLiteral("-of"),
             QStringLiteral("csv=p=0"), QStringLiteral("rtsp://127.0.0.1:%1/CAM-1/front").arg(port)},
            30000);
        QVERIFY2(probe.finished && probe.exitCode == 0, qPrintable(probe.output + server.output()));
        QCOMPARE(probe.output.trimmed(), QStringLiteral("h264,320,180"));
    }

    void pluginLoadsFromGStreamersFolderForThePrefix()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString folder = installed(QStringLiteral(QUILLON_INSTALL_LIBDIR "/gstreamer-1.0"));
        env.insert(QStringLiteral("GST_PLUGIN_PATH"), folder);
        env.insert(QStringLiteral("GST_REGISTRY"), m_work.filePath(QStringLiteral("registry.bin")));
        preloadSanitizerRuntime(&env);
        const Result inspect = runToEnd(QStringLiteral("gst-inspect-1.0"), {QStringLiteral("zmqsrc")}, 30000, env);
        QVERIFY2(inspect.finished && inspect.exitCode == 0, qPrintable(inspect.output));
        QVERIFY2(inspect.output.contains(folder + QStringLiteral("/libgstquillonzmq.so")), qPrintable(inspect.output));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
