// The process controller and the real streaming server: what the window shows (addresses, why the
// server failed) comes from the server's status pipe and /status endpoint. The server runs with its
// log switched off, so nothing here can come from its log lines.
#include "../platform/ostrevan/objectsfilewriter.h"
#include "video/processmanager.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

constexpr int kWaitMs = 20000;

ObjectsFileRows site(const QString &url)
{
    ObjectsFileRows rows;
    rows.gateways = {{QStringLiteral("GW-1"), true}};
    StreamFileRow stream;
    stream.serialGateway = QStringLiteral("GW-1");
    stream.serial = QStringLiteral("CAM-1");
    stream.url = url;
    rows.streams = {stream};
    rows.views = {{QStringLiteral("CAM-1"), QStringLiteral("Front door"), 0, 10, 20, 60, true},
                  {QStringLiteral("CAM-1"), QStringLiteral("Hidden"), 0, 0, 0, 60, false}};
    return rows;
}

QStringList options(int port)
{
    return {QStringLiteral("--port"),   QString::number(port), QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
            QStringLiteral("--dewarp"), QStringLiteral("cpu"), QStringLiteral("--width"),   QStringLiteral("320"),
            QStringLiteral("--height"), QStringLiteral("180")};
}

} // namespace

class TestServerStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The child inherits this: it prints nothing at all.
        qputenv("QT_LOGGING_RULES", "quillon.server*=false");
    }

    void servedAddressesComeFromTheStatus()
    {
        const QString file = m_dir.filePath(QStringLiteral("served.data"));
        QVERIFY(ObjectsFileWriter::write(file, site(QStringLiteral("testvideo:"))));
        ProcessManager manager;
        manager.setStatusChannel(true);
        manager.setProgram(QStringLiteral(OSTREVAN_PROGRAM));
        manager.setArguments(QStringList{file} + options(0));
        manager.start();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.servedAddresses().isEmpty(), kWaitMs);
        const int port = manager.statusChannel().rtspPort();
        QVERIFY(port > 0);
        QCOMPARE(manager.servedAddresses(),
                 QStringList{QStringLiteral("rtsp://127.0.0.1:%1/CAM-1/Front%20door").arg(port)});
        QTRY_COMPARE_WITH_TIMEOUT(manager.status(), ProcessManager::Running, kWaitMs);
        manager.stop();
        QTRY_COMPARE_WITH_TIMEOUT(manager.status(), ProcessManager::Stopped, kWaitMs);
        QVERIFY(manager.servedAddresses().isEmpty());
    }

    void aCrashNamesTheServersLastError()
    {
        const QString file = m_dir.filePath(QStringLiteral("crash.data"));
        QVERIFY(ObjectsFileWriter::write(file, site(QStringLiteral("no address at all"))));
        ProcessManager manager;
        manager.setStatusChannel(true);
        manager.setProgram(QStringLiteral(OSTREVAN_PROGRAM));
        manager.setArguments(QStringList{file} + options(0));
        QSignalSpy started(&manager, &ProcessManager::started);
        manager.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            manager.statusChannel().hasStatus() && !manager.statusChannel().lastReportedError().isEmpty(), kWaitMs);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^The server crashed: stream CAM-1: ")));
        QCOMPARE(started.count(), 1);
        ::kill(pid_t(manager.m_process.processId()), SIGSEGV);
        QTRY_VERIFY_WITH_TIMEOUT(manager.restartDelay() > 0, kWaitMs);
        QVERIFY2(manager.lastError().startsWith(QLatin1String("The server crashed: stream CAM-1: ")) &&
                     manager.lastError().contains(QLatin1String("is not a video source address")),
                 qPrintable(manager.lastError()));
        manager.stop();
    }

    void aServerThatCannotStartSaysWhy()
    {
        const QString file = m_dir.filePath(QStringLiteral("busy.data"));
        QVERIFY(ObjectsFileWriter::write(file, site(QStringLiteral("testvideo:"))));
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        ProcessManager manager;
        manager.setStatusChannel(true);
        manager.setProgram(QStringLiteral(OSTREVAN_PROGRAM));
        manager.setArguments(QStringList{file} + options(taken.serverPort()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot listen on 127.0.0.1")));
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(manager.status(), ProcessManager::Failed, kWaitMs);
        QVERIFY2(manager.lastError().contains(
                     QStringLiteral("exit code 1: cannot listen on 127.0.0.1:%1").arg(taken.serverPort())),
                 qPrintable(manager.lastError()));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestServerStatus)

#include "tst_serverstatus.moc"
